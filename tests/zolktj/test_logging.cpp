// The trace handler of java.util.logging: configured by its properties, it
// writes records into a trace set of its own, read back through the reader.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/TempDir.h"
#include "zolktj/TraceJniTest.h"

namespace zolktest {
namespace {

#define LEVEL "Ljava/util/logging/Level;"
#define RECORD "Ljava/util/logging/LogRecord;"

using TraceHandlerTest = TraceJniTest;

// Levels become trace levels; the logger's name, the thread's name and the
// formatted message fill the line; after close() a record is dropped.
TEST_F(TraceHandlerTest, RecordsReadBackAndDroppedAfterClose) {
  TempDir dir;
  const std::string config = "jul.name=jul\njul.path=" + dir.path() +
                             "\njul.size=65536\njul.count=2\n"
                             "java.util.logging.SimpleFormatter.format=%5$s%n\n";
  jobject in = New(Class("java/io/ByteArrayInputStream"), "([B)V", Bytes(config));
  jobject manager = StaticObject(Class("java/util/logging/LogManager"), "getLogManager",
                                 "()Ljava/util/logging/LogManager;");
  Void(manager, "readConfiguration", "(Ljava/io/InputStream;)V", in);
  jobject handler = New(Class("pelvar/zolklib2/logging/ZolkTraceHandler"), "(" STR ")V", Str("jul"));
  SetThreadName("worker-1");

  const struct {
    const char *level, *text, *line;
  } cases[] = {{"SEVERE", "disk full", "1|orders||worker-1||disk full\r\n"},
               {"WARNING", "slow", "2|orders||worker-1||slow\r\n"},
               {"INFO", "up", "3|orders||worker-1||up\r\n"},
               {"CONFIG", "c", "4|orders||worker-1||c\r\n"},
               {"FINE", "f", "5|orders||worker-1||f\r\n"},
               {"FINER", "fr", "6|orders||worker-1||fr\r\n"},
               {"FINEST", "fst", "7|orders||worker-1||fst\r\n"}};
  jclass level = Class("java/util/logging/Level");
  jclass record = Class("java/util/logging/LogRecord");
  auto publish = [&](const char* lv, const char* text) {
    jobject r = New(record, "(" LEVEL STR ")V",
                    StaticObject(level, "parse", "(" STR ")" LEVEL, Str(lv)), Str(text));
    Void(r, "setLoggerName", "(" STR ")V", Str("orders"));
    Void(handler, "publish", "(" RECORD ")V", r);
  };
  std::vector<std::string> expected;
  for (const auto& c : cases) {
    publish(c.level, c.text);
    expected.push_back(c.line);
  }
  Void(handler, "close", "()V");
  publish("SEVERE", "after close");
  Void(handler, "close", "()V");
  EXPECT_EQ(zolk2t::Calls("ZOLK2_PutInstanceWithIdEx").size(), std::size(cases));
  EXPECT_EQ(zolk2t::Calls("ZOLK2_DeleteInstance").size(), 1u);
  EXPECT_EQ(TraceLines(dir / "jul1.log"), expected);
}

}  // namespace
}  // namespace zolktest
