// The readable end (ZOLK2_MpttGetCurrentOffset): the file being written,
// the end-of-data scan of a file the writer has left, the writer coming
// round again, the trace mapping and its limits, and files that are
// shorter than their mapping.
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zolktrap/TrapFixture.h"

namespace traptest {
namespace {

constexpr uint32_t kFileSize = 4096;

// One call of the end computation: the writer's position before it, an
// optional rewrite of file 1, and the expected end.
struct Step {
  uint32_t writeFileNumber;
  uint32_t writeOffset;
  int expect;
};

struct Scenario {
  const char* name;
  std::string content;  // of trace file 1, the instance's file
  off_t size;           // file size: 0 = exactly the content
  std::vector<Step> steps;
  std::string readable;  // what the stream delivers from 0 after the last step
};

std::string Lines(int count, size_t length) {
  std::string s;
  for (int i = 1; i <= count; ++i) s += zolksupport::NumberedLine(i, length) + "\r\n";
  return s;
}

TEST(CurrentOffset, Scenarios) {
  const std::string twoLines = "ab\r\ncd\r\n";
  const std::string old = Lines(10, 48);  // 500 bytes
  const std::vector<Scenario> scenarios = {
      {"being written: the writer's offset, file not examined",
       "ab\r\n\x1A" "cdef", 0, {{1, 2, 2}, {1, 9, 9}}, "ab\r\n\x1A" "cdef"},
      {"left, scanned from 0", twoLines + "\x1A", 0, {{2, 0, 8}}, twoLines},
      {"left, scanned from the LF of the first line", twoLines + "\x1A", 0,
       {{1, 3, 3}, {2, 0, 8}}, twoLines},
      {"0x1A inside a line, scanned from 0", "ab\r\nc\x1A\r\n\x1A", 0, {{2, 0, 5}}, "ab\r\nc"},
      {"0x1A inside a line, scanned from 3", "ab\r\nc\x1A\r\n\x1A", 0, {{1, 3, 3}, {2, 0, 8}},
       "ab\r\nc\x1A\r\n"},
      {"mark pair then 0x1A", "\xFE\xFF\x1A", 0, {{2, 0, 2}}, "\xFE\xFF"},
      {"half a mark pair", "\xFE\x1A\r\n\x1A", 0, {{2, 0, 4}}, "\xFE\x1A\r\n"},
      {"reversed mark pair", "ab\r\n\xFF\xFE\x1A", 0, {{2, 0, 6}}, "ab\r\n\xFF\xFE"},
      {"0x1A after a lone CR", "ab\r\x1A\r\n\x1A", 0, {{2, 0, 6}}, "ab\r\x1A\r\n"},
      {"resumed mid-line: the first line end must be seen", "ab\x1A" "cd\r\n\x1A", 0,
       {{1, 1, 1}, {2, 0, 7}}, "ab\x1A" "cd\r\n"},
      {"left at the previous end: 0x1A there, no scan", twoLines + "\x1A" "zz\r\n\x1A", 0,
       {{1, 8, 8}, {2, 0, 8}, {2, 0, 8}}, twoLines},
      // The pair belongs to the data, as in a scan from 0; the scan resumed
      // right after a line end must still see it as a mark.
      {"left, mark pair at the previous end", twoLines + "\xFE\xFF\x1A", kFileSize,
       {{1, 8, 8}, {2, 0, 10}, {2, 0, 10}}, twoLines + "\xFE\xFF"},
      {"left, reversed pair at the previous end", twoLines + "\xFF\xFE\x1A", kFileSize,
       {{1, 8, 8}, {2, 0, 10}}, twoLines + "\xFF\xFE"},
      {"left, no end mark: the end of the mapping", twoLines, kFileSize,
       {{2, 0, static_cast<int>(kFileSize)}}, twoLines + std::string(kFileSize - 8, '\0')},
      {"writer back, behind a 0x1A at the previous end", old + "\x1A", kFileSize,
       {{2, 0, 500}, {1, 10, 10}, {1, 20, 20}, {1, 600, 600}}, (old + "\x1A").substr(0, 501) +
                                                                 std::string(99, '\0')},
      {"writer back, previous end at the end of the mapping", old, kFileSize,
       {{2, 0, static_cast<int>(kFileSize)}, {1, 10, 10}}, old.substr(0, 10)},
      {"writer back, old data past the previous end is scanned", old + old + "\x1A", kFileSize,
       {{1, 500, 500}, {1, 10, 1000}}, old + old},
  };
  for (const Scenario& s : scenarios) {
    SCOPED_TRACE(s.name);
    TraceSet set;
    set.WriteRecord(MakeRecord(kFileSize, 2, s.steps[0].writeFileNumber, s.steps[0].writeOffset));
    set.WriteTrace(1, s.content, s.size);
    TrapPtr trap = OpenReader(set.TracePath(1));
    ASSERT_NE(trap, nullptr);
    for (size_t i = 0; i < s.steps.size(); ++i) {
      const Step& step = s.steps[i];
      set.MoveWriter(step.writeFileNumber, step.writeOffset);
      EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(trap.get()), step.expect) << "step " << i;
    }
    EXPECT_EQ(ReadToEnd(trap.get()), s.readable);
  }
}

// The end of random data over the bytes that matter to the scan, from 0 and
// resumed at a random offset, against the state table run byte by byte.
TEST(CurrentOffset, ScanAgreesWithTheStateTableOnRandomData) {
  enum { None, Cr, LineEnd, MarkFe, MarkFf, Mark, Stop };
  const unsigned char alphabet[] = {'a', '\r', '\n', 0x1A, 0xFE, 0xFF};
  // Rows: states; columns: the bytes of the alphabet in order.
  const int table[6][6] = {
      {None, Cr, None, None, None, None},         {Cr, Cr, LineEnd, Cr, Cr, Cr},
      {LineEnd, Cr, LineEnd, Stop, MarkFe, MarkFf}, {MarkFe, Cr, MarkFe, MarkFe, MarkFe, Mark},
      {MarkFf, Cr, MarkFf, MarkFf, Mark, MarkFf},   {Mark, Cr, Mark, Stop, Mark, Mark}};
  uint32_t seed = 12345;
  auto next = [&seed](uint32_t bound) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % bound;
  };
  for (int round = 0; round < 200; ++round) {
    std::string content;
    std::vector<int> symbols;
    const uint32_t length = 1 + next(300);
    for (uint32_t i = 0; i < length; ++i) {
      symbols.push_back(static_cast<int>(next(round % 2 == 0 ? 6 : 4)));  // odd: no marks
      content.push_back(static_cast<char>(alphabet[symbols.back()]));
    }
    const uint32_t from = next(length);
    int state = from == 0 || (from >= 2 && content.compare(from - 2, 2, "\r\n") == 0) ? LineEnd
                                                                                      : None;
    // A 0x1A at the previous end is taken as the end without a scan.
    uint32_t expect = content[from] == '\x1A' ? from : kFileSize;
    for (uint32_t i = from; i < length && expect == kFileSize; ++i) {
      state = table[state][symbols[i]];
      if (state == Stop) expect = i;
    }
    SCOPED_TRACE("round " + std::to_string(round) + ", from " + std::to_string(from));
    TraceSet set;
    set.WriteRecord(MakeRecord(kFileSize, 2, 1, from));
    set.WriteTrace(1, content, kFileSize);
    TrapPtr trap = OpenReader(set.TracePath(1));
    ASSERT_NE(trap, nullptr);
    ASSERT_EQ(ZOLK2_MpttGetCurrentOffset(trap.get()), static_cast<int>(from));
    set.MoveWriter(2, 0);
    EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(trap.get()), static_cast<int>(expect));
  }
}

TEST(CurrentOffset, TraceFileThatDoesNotExistYet) {
  TraceSet set;
  set.WriteRecord(MakeRecord(kFileSize, 3, 1, 0));
  TrapPtr one = OpenReader(set.TracePath(1), false);
  TrapPtr two = OpenReader(set.TracePath(2), false);
  ASSERT_NE(one, nullptr);
  ASSERT_NE(two, nullptr);
  EXPECT_EQ(ZOLK2_MpttOpen(one.get()), ZOLK2_MPTT_E_NOTFOUND);
  EXPECT_EQ(ZOLK2_MpttOpen(two.get()), ZOLK2_MPTT_E_NOTFOUND);

  // The file being written: the writer's offset, though nothing is readable.
  set.MoveWriter(1, 30);
  EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(one.get()), 30);
  // Any other file: -1 with "not found".
  EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(two.get()), -1);
  EXPECT_EQ(ZOLK2_MpttGetLastError(two.get()), ZOLK2_MPTT_E_NOTFOUND);

  set.WriteTrace(1, std::string(30, 'x') + "\r\n");
  set.MoveWriter(1, 32);
  ASSERT_EQ(ZOLK2_MpttOpen(one.get()), 0);
  EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(one.get()), 32);
  EXPECT_EQ(ReadToEnd(one.get()), std::string(30, 'x') + "\r\n");
}

// Mapping lengths, seen through a seek to the end of the mapping.
TEST(TraceMapping, LengthFollowsTheFileWithinLimits) {
  struct Case {
    const char* name;
    off_t size;
    uint32_t recordFileSize;
    int expectLength;
  };
  const Case cases[] = {
      {"empty file: the record's file size", 0, 8192, 8192},
      {"smaller than the record says", 100, 8192, 100},
      {"larger than the record says", 10000, 8192, 10000},
      {"exactly 16 MiB", 16777216, 16777216, 16777216},
      {"over 16 MiB: capped", 16777216 + 5000, 16777216, 16777216},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TraceSet set;
    set.WriteRecord(MakeRecord(c.recordFileSize, 2, 2, 0));
    set.WriteTrace(1, "", c.size);
    TrapPtr trap = OpenReader(set.TracePath(1));
    ASSERT_NE(trap, nullptr);
    ASSERT_EQ(ZOLK2_MpttSeek(trap.get(), 0, ZOLK2_MPTT_SEEK_END), 0);
    EXPECT_EQ(ZOLK2_MpttTell(trap.get()), c.expectLength);
  }
}

TEST(TraceMapping, FileOver16MiBIsReadUpTo16MiBOnly) {
  TraceSet set;
  const off_t cap = 16777216;
  set.WriteRecord(MakeRecord(static_cast<uint32_t>(cap), 2, 1, 0));
  set.WriteTrace(1, "", cap + 8192);
  PutBytes(set.TracePath(1), "head\r\n");
  PutBytes(set.TracePath(1), "tail\r\n", cap - 6);
  PutBytes(set.TracePath(1), "beyond\r\n\x1A", cap);

  TrapPtr trap = OpenReader(set.TracePath(1));
  ASSERT_NE(trap, nullptr);
  set.MoveWriter(2, 0);  // left without an end mark inside the first 16 MiB
  EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(trap.get()), cap);
  char line[64];
  EXPECT_EQ(ZOLK2_MpttGetLine(trap.get(), line, sizeof line), 6u);
  EXPECT_STREQ(line, "head\r\n");
  ASSERT_EQ(ZOLK2_MpttSeek(trap.get(), -6, ZOLK2_MPTT_SEEK_END), 0);
  EXPECT_EQ(ReadToEnd(trap.get()), "tail\r\n");
  EXPECT_EQ(ZOLK2_MpttSeek(trap.get(), 1, ZOLK2_MPTT_SEEK_CUR), ZOLK2_MPTT_E_SEEK);
}

TEST(TraceMapping, RemappedWhenTheFileBeingWrittenOutgrowsIt) {
  TraceSet set;
  set.WriteRecord(MakeRecord(65536, 2, 1, 4));
  set.WriteTrace(1, "ab\r\n");
  TrapPtr trap = OpenReader(set.TracePath(1));
  ASSERT_NE(trap, nullptr);
  EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(trap.get()), 4);
  const std::string more = Lines(200, 98);
  PutBytes(set.TracePath(1), more, 4);
  set.MoveWriter(1, static_cast<uint32_t>(4 + more.size()));
  EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(trap.get()), static_cast<int>(4 + more.size()));
  EXPECT_EQ(ReadToEnd(trap.get()), "ab\r\n" + more);
}

// A file mapped while empty is mapped with the record's file size; a writer
// that does not pre-extend its files leaves most of that mapping beyond the
// file's end, where touching a page raises SIGBUS. The reader must keep
// every byte it examines or copies below the file's size.
class ShortFile : public ::testing::Test {
 protected:
  void SetUp() override {
    if (OnTmpfs(set_.dir())) GTEST_SKIP() << "needs a disk-backed directory";
    set_.WriteRecord(MakeRecord(65536, 2, 1, 0));
    set_.WriteTrace(1, "");
    trap_ = OpenReader(set_.TracePath(1));
    ASSERT_NE(trap_, nullptr);
    ASSERT_EQ(ZOLK2_MpttSeek(trap_.get(), 0, ZOLK2_MPTT_SEEK_END), 0);
    ASSERT_EQ(ZOLK2_MpttTell(trap_.get()), 65536);
    ASSERT_EQ(ZOLK2_MpttSeek(trap_.get(), 0, ZOLK2_MPTT_SEEK_SET), 0);
    ASSERT_EQ(ZOLK2_MpttGetCurrentOffset(trap_.get()), 0);
  }
  TraceSet set_;
  TrapPtr trap_;
};

TEST_F(ShortFile, LeftWithoutEndMarkEndsAtTheFileSize) {
  const std::string data = Lines(100, 58);  // 6000 bytes: more than a page
  PutBytes(set_.TracePath(1), data);
  set_.MoveWriter(2, 0);
  EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(trap_.get()), static_cast<int>(data.size()));
  EXPECT_EQ(ReadToEnd(trap_.get()), data);
  EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(trap_.get()), static_cast<int>(data.size()));
}

TEST_F(ShortFile, WriterOffsetBeyondTheDataIsNotReadPastTheFile) {
  const std::string data = Lines(100, 58);
  PutBytes(set_.TracePath(1), data);
  set_.MoveWriter(1, 20000);
  EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(trap_.get()), 20000);
  std::string got;
  char line[128];
  uint32_t n;
  while ((n = ZOLK2_MpttGetLine(trap_.get(), line, sizeof line)) > 0) got.append(line, n);
  EXPECT_EQ(got, data);
  EXPECT_EQ(ZOLK2_MpttGetChar(trap_.get()), -1);
  char block[30000];
  ASSERT_EQ(ZOLK2_MpttSeek(trap_.get(), 0, ZOLK2_MPTT_SEEK_SET), 0);
  EXPECT_EQ(ZOLK2_MpttRead(trap_.get(), block, sizeof block), data.size());
  ASSERT_EQ(ZOLK2_MpttSeek(trap_.get(), 10000, ZOLK2_MPTT_SEEK_SET), 0);
  EXPECT_EQ(ZOLK2_MpttGetChar(trap_.get()), -1);
  EXPECT_EQ(ZOLK2_MpttRead(trap_.get(), block, sizeof block), 0u);

  // The data arrives: the next computation of the end lets it through.
  const std::string rest = std::string(20000 - data.size() - 2, 'r') + "\r\n";
  PutBytes(set_.TracePath(1), rest, static_cast<off_t>(data.size()));
  EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(trap_.get()), 20000);
  ASSERT_EQ(ZOLK2_MpttSeek(trap_.get(), 0, ZOLK2_MPTT_SEEK_SET), 0);
  EXPECT_EQ(ReadToEnd(trap_.get()), data + rest);
}

// The same with the real writer, which ends the file with FE FF 0x1A right
// at the end the reader has already reached.
TEST(ShortFileWriter, ReaderCaughtUpWhenANonExtendingWriterLeaves) {
  zolktest::TempDir probe;
  if (OnTmpfs(probe.path())) GTEST_SKIP() << "needs a disk-backed directory";
  TraceSet set;
  zolksupport::TraceWriterOptions options;
  options.directory = set.dir();
  options.prefix = "w";
  options.fileSize = 65536;
  options.fileCount = 2;
  options.preExtend = false;
  options.endMarkPair = true;
  std::unique_ptr<zolksupport::TraceWriter> writer;
  ASSERT_EQ(zolksupport::TraceWriter::Create(options, &writer), 0);

  TrapPtr trap = OpenReader(writer->TraceFilePath(1));
  ASSERT_NE(trap, nullptr);
  std::string expect;
  for (int i = 1; i <= 100; ++i) {
    const std::string line = zolksupport::NumberedLine(i, 58);
    ASSERT_EQ(writer->WriteLine(line), 0);
    expect += line + "\r\n";
  }
  EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(trap.get()), static_cast<int>(expect.size()));
  EXPECT_EQ(ReadToEnd(trap.get()), expect);
  ASSERT_EQ(writer->Rotate(), 0);
  // The end is the 0x1A after the pair, as a scan from 0 would find it.
  EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(trap.get()), static_cast<int>(expect.size() + 2));
  EXPECT_EQ(ReadToEnd(trap.get()), "\xFE\xFF");
}

}  // namespace
}  // namespace traptest
