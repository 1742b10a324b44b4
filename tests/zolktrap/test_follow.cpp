// A writer process writes and rotates through a set of trace files while
// this process follows it with the reader, one instance per file as the
// writer enters it: every line must arrive once, in order and intact,
// through every lap of the rotation, for every way the writer can lay out
// its files and record.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "zolktrap/TrapFixture.h"

namespace traptest {
namespace {

using zolksupport::ByteOrder;

enum class ReadMode { Lines, LinePieces, Blocks, Chars };

struct FollowCase {
  const char* name;
  bool preExtend;
  bool endMarkPair;
  bool otherOrder;
  bool byteOrderMark;
  ReadMode mode;
};

// Names the case in test names and messages.
void PrintTo(const FollowCase& c, std::ostream* os) { *os << c.name; }

constexpr uint32_t kFileSize = 4096;
constexpr uint32_t kFileCount = 3;
constexpr int kLines = 400;  // about six files: the writer goes round twice

size_t LineLength(int number) { return 20 + (static_cast<size_t>(number) * 37) % 80; }

// The writer process. It never enters a file again before the reader has
// said (one byte on `done`) that it has finished the file's previous use:
// a ring of files can only be followed by a reader that keeps up.
int RunWriter(zolksupport::TraceWriter* writer, int done, uint32_t endMarkLength) {
  uint32_t uses = 1;  // files entered so far
  uint32_t finished = 0;
  for (int i = 1; i <= kLines; ++i) {
    const std::string line = zolksupport::NumberedLine(i, LineLength(i));
    if (writer->writeOffset() + line.size() + 2 + endMarkLength > kFileSize) {
      while (uses >= kFileCount && finished < uses - kFileCount + 1) {
        char c;
        if (::read(done, &c, 1) != 1) return 3;
        ++finished;
      }
      ++uses;
    }
    if (writer->WriteLine(line) != 0) return 2;
    if (i % 8 == 0) ::usleep(100);
  }
  return 0;
}

class Follow : public ::testing::TestWithParam<FollowCase> {};

TEST_P(Follow, EveryLineOnceInOrderAndIntact) {
  const FollowCase& c = GetParam();
  TraceSet set;
  zolksupport::TraceWriterOptions options;
  options.directory = set.dir();
  options.prefix = "f";
  options.fileSize = kFileSize;
  options.fileCount = kFileCount;
  options.preExtend = c.preExtend;
  options.endMarkPair = c.endMarkPair;
  options.byteOrderMark = c.byteOrderMark;
  const ByteOrder host = zolksupport::HostByteOrder();
  options.byteOrder = c.otherOrder ? (host == ByteOrder::Little ? ByteOrder::Big : ByteOrder::Little)
                                   : host;
  std::unique_ptr<zolksupport::TraceWriter> writer;
  ASSERT_EQ(zolksupport::TraceWriter::Create(options, &writer), 0);
  const std::string management = writer->managementPath();
  std::string paths[kFileCount + 1];
  for (uint32_t n = 1; n <= kFileCount; ++n) paths[n] = writer->TraceFilePath(n);

  int done[2];
  ASSERT_EQ(::pipe(done), 0);
  ::signal(SIGPIPE, SIG_IGN);
  Child child([&] {
    ::close(done[1]);
    return RunWriter(writer.get(), done[0], c.endMarkPair ? 3 : 1);
  });
  ::close(done[0]);
  writer.reset();

  // The file being written, from the record as it lies on disk.
  const int peekFd = ::open(management.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(peekFd, 0);
  auto fileBeingWritten = [&] {
    management_info_t raw{};
    if (::pread(peekFd, &raw, sizeof raw, 0) != static_cast<ssize_t>(sizeof raw)) return 0u;
    return c.otherOrder ? __builtin_bswap32(raw.writeFileNumber) : raw.writeFileNumber;
  };

  int expected = 1;
  std::string pending;
  // Takes the complete lines out of pending; false at the first wrong one.
  auto checkLines = [&](uint32_t file) {
    size_t eol;
    while ((eol = pending.find("\r\n")) != std::string::npos) {
      const std::string want = zolksupport::NumberedLine(expected, LineLength(expected));
      if (expected > kLines || pending.compare(0, eol, want) != 0) {
        ADD_FAILURE() << "file " << file << ": line " << expected << " expected \"" << want
                      << "\", got \"" << pending.substr(0, eol) << "\"";
        return false;
      }
      pending.erase(0, eol + 2);
      ++expected;
    }
    return true;
  };
  auto readAvailable = [&](ZOLK2_MptTrap_t* trap) {
    char buf[256];
    uint32_t n;
    int ch;
    switch (c.mode) {
      case ReadMode::Lines:
        while ((n = ZOLK2_MpttGetLine(trap, buf, sizeof buf)) > 0) pending.append(buf, n);
        break;
      case ReadMode::LinePieces:
        while ((n = ZOLK2_MpttGetLine(trap, buf, 16)) > 0) pending.append(buf, n);
        break;
      case ReadMode::Blocks:
        while ((n = ZOLK2_MpttRead(trap, buf, 97)) > 0) pending.append(buf, n);
        break;
      case ReadMode::Chars:
        while ((ch = ZOLK2_MpttGetChar(trap)) >= 0) pending.push_back(static_cast<char>(ch));
        break;
    }
  };

  const double deadline = NowSeconds() + 60;
  uint32_t file = 1;
  int filesRead = 0;
  bool ok = true;
  while (ok && expected <= kLines) {
    TrapPtr trap = OpenReader(paths[file]);
    ASSERT_NE(trap, nullptr);
    for (;;) {
      const bool left = fileBeingWritten() != file;
      const int end = ZOLK2_MpttGetCurrentOffset(trap.get());
      ASSERT_GE(end, 0) << "file " << file << ": error " << ZOLK2_MpttGetLastError(trap.get());
      readAvailable(trap.get());
      ok = checkLines(file);
      if (!ok || expected > kLines || left) break;
      ASSERT_LT(NowSeconds(), deadline) << "stuck in file " << file << " at line " << expected;
      ::usleep(200);
    }
    if (ok && expected <= kLines) {
      // What the writer left after its last line is the mark pair at most.
      EXPECT_EQ(pending, c.endMarkPair ? "\xFE\xFF" : "") << "end of file " << file;
      pending.clear();
      // Once the writer has written its last line it has gone, and the
      // pipe with it.
      const ssize_t put = ::write(done[1], "x", 1);
      ASSERT_TRUE(put == 1 || errno == EPIPE) << std::strerror(errno);
    }
    ++filesRead;
    file = file % kFileCount + 1;
  }
  ::close(done[1]);
  ::close(peekFd);
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_EQ(expected, kLines + 1);
  EXPECT_EQ(pending, "");
  EXPECT_GT(filesRead, static_cast<int>(kFileCount)) << "the writer never came round";
}

const FollowCase kCases[] = {
    {"PreExtended_Lines", true, false, false, true, ReadMode::Lines},
    {"PreExtended_MarkPair_LinePieces", true, true, false, true, ReadMode::LinePieces},
    {"NotExtended_Blocks", false, false, false, true, ReadMode::Blocks},
    {"NotExtended_MarkPair_OtherOrder_Chars", false, true, true, true, ReadMode::Chars},
    {"OtherOrderWithoutMark_Lines", true, false, true, false, ReadMode::Lines},
    {"NotExtended_MarkPair_OtherOrderWithoutMark_Blocks", false, true, true, false,
     ReadMode::Blocks},
};

INSTANTIATE_TEST_SUITE_P(Writers, Follow, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<FollowCase>& info) {
                           return std::string(info.param.name);
                         });

// The writer comes round to a file while an instance of it stays open: the
// end moves back to the writer's offset, and the caller reads the new lap
// from the start.
TEST(ComingRound, KeptInstanceSeesTheNewLap) {
  for (bool preExtend : {true, false}) {
    SCOPED_TRACE(preExtend ? "pre-extended" : "not pre-extended");
    TraceSet set;
    zolksupport::TraceWriterOptions options;
    options.directory = set.dir();
    options.prefix = "r";
    options.fileSize = kFileSize;
    options.fileCount = 2;
    options.preExtend = preExtend;
    std::unique_ptr<zolksupport::TraceWriter> writer;
    ASSERT_EQ(zolksupport::TraceWriter::Create(options, &writer), 0);
    TrapPtr trap = OpenReader(writer->TraceFilePath(1));
    ASSERT_NE(trap, nullptr);

    std::string firstLap;
    for (int i = 1; i <= 30; ++i) {
      ASSERT_EQ(writer->WriteLine(zolksupport::NumberedLine(i, 40)), 0);
      firstLap += zolksupport::NumberedLine(i, 40) + "\r\n";
    }
    ASSERT_EQ(writer->Rotate(), 0);  // to file 2
    const int firstEnd = ZOLK2_MpttGetCurrentOffset(trap.get());
    EXPECT_EQ(firstEnd, static_cast<int>(firstLap.size()));
    EXPECT_EQ(ReadToEnd(trap.get()), firstLap);

    ASSERT_EQ(writer->WriteLine("in file two"), 0);
    ASSERT_EQ(writer->Rotate(), 0);  // back to file 1
    // The 0x1A at the previous end shows the writer is back: the end moves back.
    EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(trap.get()), 0);
    ASSERT_EQ(writer->WriteLine("second lap, line one"), 0);
    ASSERT_EQ(writer->WriteLine("second lap, line two"), 0);
    const std::string secondLap = "second lap, line one\r\nsecond lap, line two\r\n";
    EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(trap.get()), static_cast<int>(secondLap.size()));
    ASSERT_EQ(ZOLK2_MpttSeek(trap.get(), 0, ZOLK2_MPTT_SEEK_SET), 0);
    EXPECT_EQ(ReadToEnd(trap.get()), secondLap);

    // Past the old end, the end simply follows the writer.
    std::string more;
    for (int i = 1; i <= 40; ++i) {
      ASSERT_EQ(writer->WriteLine(zolksupport::NumberedLine(i, 50)), 0);
      more += zolksupport::NumberedLine(i, 50) + "\r\n";
    }
    EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(trap.get()),
              static_cast<int>(secondLap.size() + more.size()));
    EXPECT_EQ(ReadToEnd(trap.get()), more);
  }
}

}  // namespace
}  // namespace traptest
