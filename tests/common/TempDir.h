// A fresh directory under $TMPDIR (or /tmp) for one test, removed with all
// its contents when the owner goes out of scope.
#ifndef ZOLK_TESTS_COMMON_TEMPDIR_H
#define ZOLK_TESTS_COMMON_TEMPDIR_H

#include <string>

namespace zolktest {

class TempDir final {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Whole-file helpers for tests; they fail the current test on error.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);

}  // namespace zolktest

#endif
