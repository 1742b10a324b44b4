// The LF conversion of zolk2tail's output: each CR LF becomes LF, every
// other byte stays, wherever the pairs fall against the blocks the
// conversion works in and however far the output lags the input.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "Output.h"

namespace {

using zolktail::Conversion;

// Both ways: the fastest this processor has, and the portable one.
std::string Converted(std::string s) {
  std::string portable = s;
  portable.resize(zolktail::crlfToLf(portable.data(), portable.size(), Conversion::Portable));
  s.resize(zolktail::crlfToLf(s.data(), s.size(), Conversion::Fastest));
  EXPECT_EQ(s, portable);
  return s;
}

std::string Expected(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i)
    if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')) out += s[i];
  return out;
}

TEST(CrLfToLf, KeepsLoneCrsAndEverythingElse) {
  const std::string ab64 = std::string(64, 'a');
  for (const std::string& s :
       {std::string(), std::string("\r"), std::string("\r\n"), std::string("\n\r"),
        std::string("\r\r\n\n"), ab64 + "\r", ab64.substr(1) + "\r\n" + ab64 + "\r\n",
        std::string("a\0\r\n\0b", 6), std::string(100, '\r') + "\n" + ab64 + ab64 + "\rx\r\n"})
    EXPECT_EQ(Converted(s), Expected(s));
}

// Random text: pairs and lone CRs anywhere against the blocks, the output
// lagging the input by any amount.
TEST(CrLfToLf, AgreesWithByteByByteOnRandomText) {
  std::mt19937 random(7);
  for (int round = 0; round < 20000; ++round) {
    std::string s(random() % 300, '\0');
    const unsigned odds = round % 2 ? 4 : 40;
    for (char& c : s) {
      const unsigned pick = random() % odds;
      c = pick == 0 ? '\r' : pick == 1 ? '\n' : static_cast<char>('a' + random() % 26);
    }
    ASSERT_EQ(Converted(s), Expected(s)) << "round " << round;
  }
}

}  // namespace
