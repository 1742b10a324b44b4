// The trace writer's files byte for byte, through its command-line driver:
// record layout in either byte order, rotation, end marks, pre-extension,
// files replaced and the set started again.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "common/Process.h"
#include "common/TempDir.h"
#include "tracewriter/TraceWriter.h"

namespace {

uint32_t Word(const std::string& rec, size_t offset, bool bigEndian) {
  const auto* b = reinterpret_cast<const unsigned char*>(rec.data() + offset);
  return bigEndian ? (uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3])
                   : (uint32_t{b[3]} << 24 | uint32_t{b[2]} << 16 | uint32_t{b[1]} << 8 | b[0]);
}

off_t SizeOf(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

TEST(TraceWriterDriver, RecordFilesAndRotation) {
  struct Case {
    const char* name;
    std::vector<std::string> options;
    bool bigEndian;
    uint32_t mark;
    bool preExtend;
    std::string endMark;
    uint32_t flags, lockType;
  };
  const Case cases[] = {
      {"defaults, little endian", {"-o", "little"}, false, 0xEFBBBF00u, true, "\x1A", 0, 1},
      {"big endian, no mark, not extended, pair, flags, lock type",
       {"-o", "big", "-B", "-E", "-m", "-f", "0x10", "-t", "2"}, true, 0, false, "\xFE\xFF\x1A",
       0x10, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    zolktest::TempDir dir;
    // 4096-byte files: 60 lines of 100 bytes fill file 1 (40 lines) and
    // go on in file 2.
    std::string input;
    for (int i = 1; i <= 60; ++i) input += zolksupport::NumberedLine(i, 98) + "\n";
    std::vector<std::string> argv = {ZOLK_TRACEWRITER_PATH, "-d", dir.path(), "-p", "w",
                                     "-s", "4096", "-n", "2"};
    argv.insert(argv.end(), c.options.begin(), c.options.end());
    zolktest::ProcessOptions po;
    po.input = input;
    const zolktest::ProcessResult r = zolktest::RunProcess(argv, po);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "wrote 60 lines; writing file 2 at offset 2000\n");

    const std::string rec = zolktest::ReadFile(dir / "mmap/w.mm");
    ASSERT_EQ(rec.size(), 64u);
    EXPECT_EQ(rec.substr(0, 4), "ZOLK");
    const uint32_t expected[] = {c.mark, 4096, 2, 2000, 2, c.flags, c.lockType, 0};
    for (size_t i = 0; i < 8; ++i)
      EXPECT_EQ(Word(rec, 4 + 4 * i, c.bigEndian), expected[i]) << "word at " << 4 + 4 * i;
    EXPECT_EQ(rec.substr(36), std::string(28, '\0'));

    std::string first, second;
    for (int i = 1; i <= 40; ++i) first += zolksupport::NumberedLine(i, 98) + "\r\n";
    for (int i = 41; i <= 60; ++i) second += zolksupport::NumberedLine(i, 98) + "\r\n";
    first += c.endMark;
    const std::string one = zolktest::ReadFile(dir / "w1.log");
    const std::string two = zolktest::ReadFile(dir / "w2.log");
    EXPECT_EQ(one.substr(0, first.size()), first);
    EXPECT_EQ(two.substr(0, second.size()), second);
    EXPECT_EQ(SizeOf(dir / "w1.log"), c.preExtend ? 4096 : static_cast<off_t>(first.size()));
    EXPECT_EQ(SizeOf(dir / "w2.log"), c.preExtend ? 4096 : static_cast<off_t>(second.size()));
  }
}

// Coming round to file 1 again: overwritten in place, replaced by a new
// inode, or, with the set started again at line 51, emptied. A descriptor
// opened on file 1 before the run shows which file it was.
TEST(TraceWriterDriver, FileEnteredAgain) {
  auto lines = [](int from, int to) {
    std::string s;
    for (int i = from; i <= to; ++i) s += zolksupport::NumberedLine(i, 98) + "\r\n";
    return s;
  };
  auto padded = [](std::string s) { return s.append(4096 - s.size(), '\0'); };
  struct Case {
    const char* name;
    std::vector<std::string> options;
    std::string one, two, held, out;
  };
  const std::string ended = padded(lines(81, 100) + lines(21, 40) + "\x1A");
  const Case cases[] = {
      {"in place", {}, ended, padded(lines(41, 80) + "\x1A"), ended,
       "wrote 100 lines; writing file 1 at offset 2000\n"},
      {"replaced", {"-u"}, padded(lines(81, 100)), padded(lines(41, 80) + "\x1A"),
       padded(lines(1, 40) + "\x1A"), "wrote 100 lines; writing file 1 at offset 2000\n"},
      {"started again", {"-R", "50"}, padded(lines(51, 90) + "\x1A"), padded(lines(91, 100)),
       padded(lines(51, 90) + "\x1A"),
       "wrote 100 lines; writing file 2 at offset 1000; restarted 1 times\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    zolktest::TempDir dir;
    const int held = ::open((dir / "w1.log").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(held, 0);
    std::vector<std::string> argv = {ZOLK_TRACEWRITER_PATH, "-d", dir.path(), "-p", "w",
                                     "-s", "4096", "-n", "2", "-g", "100", "-l", "98"};
    argv.insert(argv.end(), c.options.begin(), c.options.end());
    const zolktest::ProcessResult r = zolktest::RunProcess(argv, {});
    std::string before(8192, '\0');
    before.resize(static_cast<size_t>(std::max<ssize_t>(0, ::pread(held, &before[0], 8192, 0))));
    ::close(held);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, c.out);
    // Compared whole but not printed: 4 KiB of lines would hide the case.
    EXPECT_TRUE(zolktest::ReadFile(dir / "w1.log") == c.one) << "w1.log";
    EXPECT_TRUE(zolktest::ReadFile(dir / "w2.log") == c.two) << "w2.log";
    EXPECT_TRUE(before == c.held) << "w1.log as opened before the run";
  }
}

TEST(TraceWriterDriver, RefusesWhatWouldBreakTheSet) {
  zolktest::TempDir dir;
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string input;
    int exitCode;
    const char* message;
  };
  const Case cases[] = {
      {"no directory", {"-p", "w"}, "", 1, "-d and -p are required"},
      {"file size too small", {"-d", dir.path(), "-p", "w", "-s", "4095"}, "", 2, "cannot create"},
      {"too many files", {"-d", dir.path(), "-p", "w", "-n", "65"}, "", 2, "cannot create"},
      {"bad byte order", {"-d", dir.path(), "-p", "w", "-o", "middle"}, "", 1, "little or big"},
      {"restart every 0 lines", {"-d", dir.path(), "-p", "w", "-R", "0"}, "", 1, "bad restart"},
      {"end-of-data byte in a line", {"-d", dir.path(), "-p", "w"}, "ok\nbad\x1Aline\n", 2,
       "cannot write line 2"},
      {"line longer than a file", {"-d", dir.path(), "-p", "w", "-s", "4096"},
       std::string(4094, 'x') + "\n", 2, "cannot write line 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> argv = {ZOLK_TRACEWRITER_PATH};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    zolktest::ProcessOptions po;
    po.input = c.input;
    const zolktest::ProcessResult r = zolktest::RunProcess(argv, po);
    EXPECT_EQ(r.exitCode, c.exitCode);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
}

}  // namespace
