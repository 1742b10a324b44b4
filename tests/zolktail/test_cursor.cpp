// The cursor file of zolk2tail: what a save writes, a load gives back; a
// file that is not a whole, valid cursor file is refused with the reason;
// a failed save leaves the previous file as it was, and nothing beside it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <tuple>

#include "Cursor.h"
#include "common/Process.h"
#include "common/TempDir.h"

namespace {

using zolktail::Cursor;
using zolktail::CursorLoad;

const Cursor kSample = {"/var/trc/mmap/app.mm", 2049, UINT64_MAX, 64, 300, 256, 0x123456789abcdef};
const std::string kSampleText =
    "zolk2tail cursor 1\nset /var/trc/mmap/app.mm\ndevice 2049\ninode 18446744073709551615\n"
    "file 64\noffset 300\nfingerprint 256 0123456789abcdef\n";

std::string Edited(const std::string& from, const std::string& to) {
  std::string s = kSampleText;
  return s.replace(s.find(from), from.size(), to);
}

auto Fields(const Cursor& c) {
  return std::tie(c.set, c.device, c.inode, c.fileNumber, c.offset, c.fingerprintLength,
                  c.fingerprint);
}

// Whether the directory holds the cursor file alone: no temporary file left.
bool Alone(const std::string& dir) {
  auto entries = std::filesystem::directory_iterator(dir);
  return std::distance(entries, std::filesystem::directory_iterator()) == 1;
}

TEST(Cursor, SavedAndLoaded) {
  zolktest::TempDir dir;
  const Cursor spaces = {"/my trc/ mmap/app .mm ", 0, 0, 1, 1, 1, 0};
  const Cursor last = {"/t.mm", 1, 1, 1, INT32_MAX, 256, UINT64_MAX};
  for (const Cursor& c : {spaces, last, kSample}) {
    SCOPED_TRACE(c.set);
    ASSERT_EQ(zolktail::saveCursor(dir / "cursor", c), 0);
    Cursor loaded;
    std::string problem;
    EXPECT_EQ(zolktail::loadCursor(dir / "cursor", &loaded, &problem), CursorLoad::Loaded)
        << problem;
    EXPECT_EQ(Fields(loaded), Fields(c));
    EXPECT_TRUE(Alone(dir.path()));
  }
  EXPECT_EQ(zolktest::ReadFile(dir / "cursor"), kSampleText);
  EXPECT_EQ(zolktail::Fingerprint("foobar", 6), 0x85944171f73967e8u);  // FNV-1a, 64 bits
}

TEST(Cursor, LoadRefuses) {
  zolktest::TempDir dir;
  const std::string bad = "malformed cursor file ";
  struct Case {
    std::string content, problem;
  } const cases[] = {
      {"", "not a zolk2tail cursor file"},
      {Edited("/var", "var"), bad + "(line 2: set is not an absolute path)"},
      {Edited("/var", std::string("/\0", 2)), bad + "(line 2: set is not an absolute path)"},
      {Edited("device", "devise"), bad + "(line 3: device expected)"},
      {Edited("615", "616"), bad + "(line 4: inode is not a number)"},
      {kSampleText.substr(0, kSampleText.find("file")), bad + "(line 5: no file)"},
      {Edited("file 64", "file +64"), bad + "(line 5: file is not a number)"},
      {Edited("file 64", "file 65"), bad + "(line 5: file is not from 1 to 64)"},
      {Edited("offset 300", "offset 300 "), bad + "(line 6: offset is not a number)"},
      {Edited("300", "2147483648"), bad + "(line 6: offset is not from 1 to 2147483647)"},
      {Edited("256", "255"), bad + "(line 7: fingerprint length does not match the offset)"},
      {Edited("abcdef", "ABCDEF"),
       bad + "(line 7: fingerprint is not a length and 16 lowercase hex digits)"},
      {kSampleText.substr(0, kSampleText.size() - 1), bad + "(line 7: no line end)"},
      {kSampleText + "\n", bad + "(line 8: unexpected)"},
      {kSampleText + std::string(8193 - kSampleText.size(), '\n'), bad + "(more than 8192 bytes)"},
  };
  Cursor loaded;
  std::string problem;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.problem + " from:\n" + c.content.substr(0, 300));
    zolktest::WriteFile(dir / "cursor", c.content);
    EXPECT_EQ(zolktail::loadCursor(dir / "cursor", &loaded, &problem), CursorLoad::Failed);
    EXPECT_EQ(problem, c.problem);
  }
  EXPECT_EQ(zolktail::loadCursor(dir / "none", &loaded, &problem), CursorLoad::Missing);
  EXPECT_EQ(zolktail::loadCursor(dir.path(), &loaded, &problem), CursorLoad::Failed);
  EXPECT_EQ(problem, "Is a directory");
}

TEST(Cursor, FailedSaveKeepsThePreviousFile) {
  constexpr int kNoSetup = 125;
  zolktest::TempDir dir;
  struct Case {
    const char* name;
    Cursor cursor;
    int error;  // EFBIG: made by a limit on the file size; EACCES: by a read-only directory
  } const cases[] = {
      {"a set path with a line end", {"/a\nb", 1, 1, 1, 1, 1, 0}, EINVAL},
      {"file number 0", {"/a", 1, 1, 0, 1, 1, 0}, EINVAL},
      {"a write cut short", {"/" + std::string(200, 's'), 1, 1, 1, 1, 1, 0}, EFBIG},
      {"a directory not writable", {"/a", 1, 1, 1, 1, 1, 0}, EACCES},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    zolktest::WriteFile(dir / "cursor", kSampleText);
    if (c.error == EACCES) ::chmod(dir.path().c_str(), 0555);
    const zolktest::ProcessResult r = zolktest::RunInChild([&] {
      const rlimit limit = {100, 100};
      ::signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead
      if (c.error == EFBIG && ::setrlimit(RLIMIT_FSIZE, &limit) != 0) return kNoSetup;
      // Root writes in any directory: as nobody, the permissions hold.
      if (c.error == EACCES && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
        return kNoSetup;
      return zolktail::saveCursor(dir / "cursor", c.cursor);
    });
    ::chmod(dir.path().c_str(), 0755);
    if (r.exitCode == kNoSetup) GTEST_SKIP() << c.name << ": the child could not be set up";
    EXPECT_EQ(r.exitCode, c.error);
    EXPECT_EQ(zolktest::ReadFile(dir / "cursor"), kSampleText);
    EXPECT_TRUE(Alone(dir.path()));
  }
}

}  // namespace
