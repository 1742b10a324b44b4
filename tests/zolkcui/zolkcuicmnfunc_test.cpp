// The string, path and line helpers, on the inputs where an off-by-one or
// a missing bound would show.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

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

TEST(CheckPath, WildcardsCountOnlyInTheLastComponent) {
  const std::pair<const char *, int> cases[] = {
      {"/var/log/", 0}, {"/var/log/zo*", -1}, {"/v?r/log/x", 0}, {"var/log", -1},
      {"/", 0},         {"/a/b?", -1},        {nullptr, -1},
  };
  for (const auto &[path, expected] : cases) {
    EXPECT_EQ(checkPath(path), expected) << (path != nullptr ? path : "(null)");
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

TEST(GetToken, KeyOfAtMostFifteenNonBlankCharacters) {
  const std::pair<const char *, const char *> cases[] = {
      {"abcdefghijklmno=1", "abcdefghijklmno"},
      {"abcdefghijklmnop=1", nullptr},
      {"a b c d e f g h i j k l m n o p=1", nullptr},
      {" a\tb c d e f g h i j k l m n o =1", "abcdefghijklmno"},
      {"no equals sign\n", nullptr},
      {"=5", ""},
  };
  for (const auto &[line, key] : cases) {
    if (key == nullptr) {
      EXPECT_EQ(getToken(line), nullptr) << line;
    } else {
      EXPECT_STREQ(getToken(line), key) << line;
    }
  }
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

}  // namespace
