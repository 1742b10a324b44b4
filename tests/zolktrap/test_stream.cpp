// The read stream: block, byte and line reads bounded by the readable end,
// seek and tell, and the closed-stream refusals.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "zolktrap/TrapFixture.h"

namespace traptest {
namespace {

class Stream : public ::testing::Test {
 protected:
  // File 1 holds `content` in a file of 4096 bytes and is being written up
  // to `end`; the stream is open.
  void Start(const std::string& content, uint32_t end) {
    set_.WriteRecord(MakeRecord(4096, 2, 1, end));
    set_.WriteTrace(1, content, 4096);
    trap_ = OpenReader(set_.TracePath(1));
    ASSERT_NE(trap_, nullptr);
  }
  ZOLK2_MptTrap_t* trap() { return trap_.get(); }

  TraceSet set_;
  TrapPtr trap_;
};

TEST_F(Stream, NothingIsReadableBeforeTheEndIsComputed) {
  Start("hello\r\n", 7);
  char buf[16];
  EXPECT_EQ(ZOLK2_MpttRead(trap(), buf, sizeof buf), 0u);
  EXPECT_EQ(ZOLK2_MpttGetChar(trap()), -1);
  EXPECT_EQ(ZOLK2_MpttGetLine(trap(), buf, sizeof buf), 0u);
  EXPECT_EQ(ZOLK2_MpttGetLastError(trap()), 0);  // the end is no error
  EXPECT_EQ(ZOLK2_MpttGetCurrentOffset(trap()), 7);
  EXPECT_EQ(ZOLK2_MpttRead(trap(), buf, sizeof buf), 7u);
  EXPECT_EQ(std::string(buf, 7), "hello\r\n");
}

TEST_F(Stream, ReadsStopAtTheReadableEnd) {
  Start("0123456789abcdef", 10);
  ASSERT_EQ(ZOLK2_MpttGetCurrentOffset(trap()), 10);
  char buf[32];
  EXPECT_EQ(ZOLK2_MpttRead(trap(), buf, 4), 4u);
  EXPECT_EQ(std::string(buf, 4), "0123");
  EXPECT_EQ(ZOLK2_MpttGetChar(trap()), '4');
  EXPECT_EQ(ZOLK2_MpttTell(trap()), 5);
  EXPECT_EQ(ZOLK2_MpttRead(trap(), buf, 0), 0u);
  EXPECT_EQ(ZOLK2_MpttRead(trap(), buf, sizeof buf), 5u);
  EXPECT_EQ(std::string(buf, 5), "56789");
  EXPECT_EQ(ZOLK2_MpttRead(trap(), buf, sizeof buf), 0u);

  // Beyond the readable end is allowed as a position; reads wait there.
  ASSERT_EQ(ZOLK2_MpttSeek(trap(), 12, ZOLK2_MPTT_SEEK_SET), 0);
  EXPECT_EQ(ZOLK2_MpttGetChar(trap()), -1);
  set_.MoveWriter(1, 14);
  ASSERT_EQ(ZOLK2_MpttGetCurrentOffset(trap()), 14);
  EXPECT_EQ(ZOLK2_MpttGetChar(trap()), 'c');
  EXPECT_EQ(ZOLK2_MpttGetChar(trap()), 'd');
  EXPECT_EQ(ZOLK2_MpttGetChar(trap()), -1);
}

TEST_F(Stream, GetCharDeliversBytesAsUnsigned) {
  Start("\xFF\x80\x01", 3);
  ASSERT_EQ(ZOLK2_MpttGetCurrentOffset(trap()), 3);
  EXPECT_EQ(ZOLK2_MpttGetChar(trap()), 0xFF);
  EXPECT_EQ(ZOLK2_MpttGetChar(trap()), 0x80);
  EXPECT_EQ(ZOLK2_MpttGetChar(trap()), 0x01);
  EXPECT_EQ(ZOLK2_MpttGetChar(trap()), -1);
}

TEST_F(Stream, GetLineSizesAndPieces) {
  Start("abcdefg\r\nxy\r\nlast", 17);
  ASSERT_EQ(ZOLK2_MpttGetCurrentOffset(trap()), 17);
  struct Call {
    uint32_t size;
    uint32_t expect;
    const char* stored;  // null: the buffer must stay untouched
  };
  const Call calls[] = {
      {0, 0, nullptr},       {1, 0, ""},           {5, 4, "abcd"},     {5, 4, "efg\r"},
      {5, 1, "\n"},          {100, 4, "xy\r\n"},   {100, 4, "last"},   {100, 0, nullptr},
  };
  for (size_t i = 0; i < sizeof calls / sizeof calls[0]; ++i) {
    const Call& c = calls[i];
    SCOPED_TRACE("call " + std::to_string(i) + " with size " + std::to_string(c.size));
    char buf[128];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(ZOLK2_MpttGetLine(trap(), buf, c.size), c.expect);
    if (c.stored == nullptr) {
      EXPECT_EQ(buf[0], '#');
    } else {
      EXPECT_STREQ(buf, c.stored);
      EXPECT_EQ(buf[std::strlen(c.stored) + 1], '#');  // nothing past the NUL
    }
  }
}

TEST_F(Stream, SeekOriginsAndRange) {
  Start("0123456789", 10);
  struct Case {
    uint32_t from;
    int32_t offset;
    int origin;
    int expect;
    int position;  // after the call
  };
  const Case cases[] = {
      {5, 0, ZOLK2_MPTT_SEEK_SET, 0, 0},
      {5, 4096, ZOLK2_MPTT_SEEK_SET, 0, 4096},
      {5, 4097, ZOLK2_MPTT_SEEK_SET, ZOLK2_MPTT_E_SEEK, 5},
      {5, -1, ZOLK2_MPTT_SEEK_SET, ZOLK2_MPTT_E_SEEK, 5},
      {5, 3, ZOLK2_MPTT_SEEK_CUR, 0, 8},
      {5, -5, ZOLK2_MPTT_SEEK_CUR, 0, 0},
      {0, -1, ZOLK2_MPTT_SEEK_CUR, ZOLK2_MPTT_E_SEEK, 0},
      {5, 4092, ZOLK2_MPTT_SEEK_CUR, ZOLK2_MPTT_E_SEEK, 5},
      {5, INT32_MIN, ZOLK2_MPTT_SEEK_CUR, ZOLK2_MPTT_E_SEEK, 5},
      {5, 0, ZOLK2_MPTT_SEEK_END, 0, 4096},
      {5, -4096, ZOLK2_MPTT_SEEK_END, 0, 0},
      {5, -4097, ZOLK2_MPTT_SEEK_END, ZOLK2_MPTT_E_SEEK, 5},
      {5, 1, ZOLK2_MPTT_SEEK_END, ZOLK2_MPTT_E_SEEK, 5},
      {5, 0, 3, ZOLK2_MPTT_E_INVALID, 5},
      {5, 0, -1, ZOLK2_MPTT_E_INVALID, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("from " + std::to_string(c.from) + " offset " + std::to_string(c.offset) +
                 " origin " + std::to_string(c.origin));
    ASSERT_EQ(ZOLK2_MpttSeek(trap(), static_cast<int32_t>(c.from), ZOLK2_MPTT_SEEK_SET), 0);
    ZOLK2_MpttClearError(trap());
    EXPECT_EQ(ZOLK2_MpttSeek(trap(), c.offset, c.origin), c.expect);
    EXPECT_EQ(ZOLK2_MpttGetLastError(trap()), c.expect);
    EXPECT_EQ(ZOLK2_MpttTell(trap()), c.position);
  }
}

TEST_F(Stream, ClosedStreamAndNullBuffers) {
  Start("abc", 3);
  ASSERT_EQ(ZOLK2_MpttGetCurrentOffset(trap()), 3);
  char buf[8];
  EXPECT_EQ(ZOLK2_MpttRead(trap(), nullptr, 8), 0u);
  EXPECT_EQ(ZOLK2_MpttGetLastError(trap()), ZOLK2_MPTT_E_INVALID);
  EXPECT_EQ(ZOLK2_MpttGetLine(trap(), nullptr, 8), 0u);
  EXPECT_EQ(ZOLK2_MpttGetLastError(trap()), ZOLK2_MPTT_E_INVALID);
  EXPECT_EQ(ZOLK2_MpttTell(trap()), 0);  // nothing was consumed

  ASSERT_EQ(ZOLK2_MpttClose(trap()), 0);
  struct Case {
    const char* name;
    long result;
    long expect;
  };
  ZOLK2_MpttClearError(trap());
  const Case cases[] = {
      {"Read", static_cast<long>(ZOLK2_MpttRead(trap(), buf, sizeof buf)), 0},
      {"GetChar", ZOLK2_MpttGetChar(trap()), -1},
      {"GetLine", static_cast<long>(ZOLK2_MpttGetLine(trap(), buf, sizeof buf)), 0},
      {"Tell", ZOLK2_MpttTell(trap()), -1},
      {"Seek", ZOLK2_MpttSeek(trap(), 0, 0), ZOLK2_MPTT_E_STATE},
      {"Close", ZOLK2_MpttClose(trap()), ZOLK2_MPTT_E_STATE},
  };
  for (const Case& c : cases) EXPECT_EQ(c.result, c.expect) << c.name;
  EXPECT_EQ(ZOLK2_MpttGetLastError(trap()), ZOLK2_MPTT_E_STATE);

  // Reopened, the stream starts at 0 again over the kept mapping.
  ASSERT_EQ(ZOLK2_MpttOpen(trap()), 0);
  EXPECT_EQ(ZOLK2_MpttTell(trap()), 0);
  EXPECT_EQ(ReadToEnd(trap()), "abc");
}

}  // namespace
}  // namespace traptest
