// The option parser on the argument shapes both commands meet: clusters,
// attached and detached values, non-options and unknown letters.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "zolkgetopt.h"

namespace {

// Parses args (program name added) and describes every result: a letter,
// a letter with [value], or ?(element) with the element the caller blames.
std::string Parse(std::vector<std::string> args, const char *optstring) {
  args.insert(args.begin(), "prog");
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  const int argc = static_cast<int>(args.size());

  std::string out;
  optind = 1;
  optletterind = 0;
  for (int c, guard = 0; (c = zolk2getopt(argc, argv.data(), optstring)) != -1; ++guard) {
    if (guard > 20) return out + " <no end>";
    if (!out.empty()) out += ' ';
    if (c == '?') {
      out += std::string("?(") + (optletterind != 0 ? argv[optind] : argv[optind - 1]) + ")";
    } else if (const char *at = std::strchr(optstring, c); at != nullptr && at[1] == ':') {
      out += std::string(1, static_cast<char>(c)) + "[" + optarg + "]";
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

struct Case {
  std::vector<std::string> args;
  const char *optstring;
  const char *expected;
};

TEST(Zolk2Getopt, ResultsForArgumentShapes) {
  const char *get = "fbnswiml:h";
  const char *set = "f:b:n:s:w:i:m:l:h";
  const Case cases[] = {
      {{"-fb"}, get, "f b"},
      {{"-f", "-b"}, get, "f b"},
      {{"-l/tmp/x"}, get, "l[/tmp/x]"},
      {{"-l", "/tmp/x", "-n"}, get, "l[/tmp/x] n"},
      {{"-l"}, get, "l[]"},
      {{"-b", "-f"}, set, "b[-f]"},
      {{"-fb512"}, get, "f b ?(-fb512) ?(-fb512) ?(-fb512)"},
      {{"-fb512"}, set, "f[b512]"},
      {{"abc", "-n"}, get, "?(abc) n"},
      {{"-xb"}, get, "?(-xb) b"},
      {{"-bx"}, get, "b ?(-bx)"},
      {{"-"}, get, "?(-)"},
      {{"--"}, get, "?(--)"},
      {{"-:"}, set, "?(-:)"},
      {{"-h", "-x"}, get, "h ?(-x)"},
      {{}, get, ""},
  };
  for (const Case &c : cases) {
    std::string name;
    for (const std::string &a : c.args) name += a + " ";
    EXPECT_EQ(Parse(c.args, c.optstring), c.expected) << "args: " << name << "optstring " << c.optstring;
  }
}

TEST(Zolk2Getopt, RefusesMissingInput) {
  char prog[] = "prog";
  char *argv[] = {prog, nullptr};
  optind = 1;
  EXPECT_EQ(zolk2getopt(1, argv, "f"), -1);
  EXPECT_EQ(zolk2getopt(2, nullptr, "f"), -1);
  EXPECT_EQ(zolk2getopt(2, argv, nullptr), -1);
  EXPECT_EQ(zolk2getopt(2, argv, "f"), -1) << "null element";
}

}  // namespace
