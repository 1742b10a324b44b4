// The string, path and line helpers, on the inputs where an off-by-one or
// a missing bound would show.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/TempDir.h"
#include "zolkcuicmnfunc.h"

namespace {

TEST(DeleteSpace, TrimsBlanksOnlyAndStaysInsideTheBuffer) {
  struct Case {
    const char *src;
    size_t size;
    const char *expected;
  } cases[] = {
      {"   ", 1025, ""},
      {"  a b  ", 1025, "a b"},
      {"\ta\t ", 1025, "\ta\t"},
      {"abcdef", 4, "abc"},
      {"  abcdef", 5, "abcd"},
      {"ab  cd", 4, "ab"},
      {"", 1025, ""},
  };
  for (const Case &c : cases) {
    std::vector<char> dst(c.size + 8, 'X');  // a guard zone after the buffer
    deleteSpace(dst.data(), c.src, c.size);
    EXPECT_STREQ(dst.data(), c.expected) << "'" << c.src << "' size " << c.size;
    EXPECT_EQ(std::string(dst.data() + c.size, 8), "XXXXXXXX") << "'" << c.src << "' overran";
  }
}

TEST(CheckPathAndNumeric, AcceptOnlyWhatTheCommandsAllow) {
  struct Case {
    const char *text;
    int path;
    int numeric;
  } cases[] = {
      {"/var/log/", 0, -1},      {"/var/log/zo*", -1, -1}, {"/v?r/log/x", 0, -1},
      {"var/log", -1, -1},       {"/", 0, -1},             {"/a/b?", -1, -1},
      {"0123", -1, 0},           {"", -1, -1},             {" 12", -1, -1},
      {"12a", -1, -1},           {"-1", -1, -1},           {nullptr, -1, -1},
  };
  for (const Case &c : cases) {
    const char *shown = c.text != nullptr ? c.text : "(null)";
    EXPECT_EQ(checkPath(c.text), c.path) << shown;
    EXPECT_EQ(checkNumeric(c.text), c.numeric) << shown;
  }
}

TEST(GetParentPath, DropsTheLastComponentAndKeepsTheRoot) {
  struct Case {
    const char *path;
    size_t size;
    const char *expected;
  } cases[] = {
      {"/a/b/c", 1025, "/a/b"}, {"/a/b/", 1025, "/a/b"}, {"/name", 1025, "/"},
      {"/", 1025, "/"},         {"/a/b/c", 5, "/a"},      {"/abc", 3, "/"},
  };
  for (const Case &c : cases) {
    std::vector<char> result(c.size + 8, 'X');
    ASSERT_EQ(getParentPath(c.path, result.data(), c.size), 0) << c.path;
    EXPECT_STREQ(result.data(), c.expected) << c.path << " size " << c.size;
    EXPECT_EQ(std::string(result.data() + c.size, 8), "XXXXXXXX") << c.path << " overran";
  }
  char buf[8];
  EXPECT_EQ(getParentPath(nullptr, buf, sizeof buf), -1);
  EXPECT_EQ(getParentPath("/a", nullptr, sizeof buf), -1);
}

TEST(GetTokenAndValue, KeyAndValueOfConfigurationLines) {
  struct Case {
    const char *line;
    const char *key;    // null: no key
    const char *value;  // null: no value
  } cases[] = {
      {"LogSize = 8192\n", "LogSize", "8192"},
      {"Log Size\t= 1024\r\n", "LogSize", "1024"},
      {"LogFile = /var/log/my trace\n", "LogFile", "/var/log/my"},
      {"abcdefghijklmno=1", "abcdefghijklmno", "1"},
      {"abcdefghijklmnop=1", nullptr, "1"},
      {"a b c d e f g h i j k l m n o p=1", nullptr, "1"},
      {"no equals sign\n", nullptr, nullptr},
      {"# LogSize = 1\n", "#LogSize", "1"},
      {"MapSize =   \n", "MapSize", nullptr},
      {"=5", "", "5"},
      {"WatchDog=\t\r 30 40", "WatchDog", "30"},
  };
  for (const Case &c : cases) {
    const char *key = getToken(c.line);
    if (c.key == nullptr) {
      EXPECT_EQ(key, nullptr) << c.line;
    } else {
      EXPECT_STREQ(key, c.key) << c.line;
    }
    char value[1041];
    const int rc = getConfValue(c.line, value, sizeof value);
    EXPECT_EQ(rc, c.value != nullptr ? 0 : -1) << c.line;
    EXPECT_STREQ(value, c.value != nullptr ? c.value : "") << c.line;
  }
  char small[4];
  EXPECT_EQ(getConfValue("LogSize = 262144", small, sizeof small), 0);
  EXPECT_STREQ(small, "262");
}

TEST(GetCommandLine, CutsBeforeTheFirstArgumentThatDoesNotFit) {
  const std::string long1025(1025, 'a'), long1019(1019, 'b');
  struct Case {
    std::vector<std::string> args;
    size_t max;
    std::string expected;
  } cases[] = {
      {{"prog", long1025}, 1024, "prog "},
      {{"prog", long1019}, 1024, "prog " + long1019},
      {{"prog", long1019, "x"}, 1024, "prog " + long1019},
      {{"prog", "-b", "512"}, 1024, "prog -b 512"},
      {{"prog", "-b", "512"}, 7, "prog -b"},
      {{"prog", "-b", "512"}, 8, "prog -b "},
  };
  for (const Case &c : cases) {
    std::vector<char *> argv;
    for (const std::string &a : c.args) argv.push_back(const_cast<char *>(a.c_str()));
    std::vector<char> buf(c.max + 1 + 8, '\0');
    std::memset(buf.data() + c.max + 1, 'X', 8);
    ZOLK_GetCommandLine(static_cast<int>(argv.size()), argv.data(), c.max, buf.data());
    EXPECT_EQ(std::string(buf.data()), c.expected) << "max " << c.max << ", " << c.args.size() << " args";
    EXPECT_EQ(std::string(buf.data() + c.max + 1, 8), "XXXXXXXX") << "overran, max " << c.max;
  }
}

TEST(ReadConfChunk, SplitsLongLinesAndKeepsNulBytes) {
  zolktest::TempDir dir;
  const std::string line1 = std::string(1040, 'x') + "yz\n";
  const std::string line2 = std::string("a\0b=c\r\n", 7);
  zolktest::WriteFile(dir / "f", line1 + line2 + "tail");
  FILE *fp = std::fopen((dir / "f").c_str(), "r");
  ASSERT_NE(fp, nullptr);
  std::vector<std::string> chunks;
  char buf[1041];
  for (size_t n; (n = readConfChunk(fp, buf, sizeof buf)) > 0;) chunks.emplace_back(buf, n);
  std::fclose(fp);
  ASSERT_EQ(chunks.size(), 4u);
  EXPECT_EQ(chunks[0], std::string(1040, 'x'));
  EXPECT_EQ(chunks[1], "yz\n");
  EXPECT_EQ(chunks[2], line2);
  EXPECT_EQ(chunks[3], "tail");
}

}  // namespace
