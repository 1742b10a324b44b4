#include "CommandRunner.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "common/Privileges.h"

namespace zolkcuitest {

ConfDir::ConfDir() { ::mkdir((dir_ / "etc").c_str(), 0755); }

void ConfDir::Write(const std::string &content) const { zolktest::WriteFile(conf(), content); }

std::string ConfDir::Read() const {
  std::ifstream in(conf(), std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> ConfDir::Strays() const {
  std::vector<std::string> names;
  DIR *d = ::opendir((dir_ / "etc").c_str());
  if (d == nullptr) return names;
  while (const dirent *e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != ".." && name != "D002zolk2.cnf") names.push_back(name);
  }
  ::closedir(d);
  return names;
}

zolktest::ProcessResult ConfDir::Run(const char *program, const std::vector<std::string> &args) const {
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), args.begin(), args.end());
  zolktest::ProcessOptions options;
  options.workDir = path();
  return zolktest::RunProcess(argv, options);
}

namespace {

// Another user may not be able to reach the build tree (a checkout under
// /root, or in a directory of mode 0700): the command runs from a copy in
// the test's own directory, executed by a path relative to it, so that only
// that directory must be open to the user. Returns the relative path, or ""
// when the copy cannot be made.
std::string CopyForOtherUser(const std::string &workDir, const char *program) {
  const std::string dir = ".run-as";
  const char *slash = std::strrchr(program, '/');
  const std::string relative = dir + "/" + (slash != nullptr ? slash + 1 : program);
  if (::mkdir((workDir + "/" + dir).c_str(), 0755) != 0 && errno != EEXIST) return "";
  std::ifstream in(program, std::ios::binary);
  std::ofstream out(workDir + "/" + relative, std::ios::binary | std::ios::trunc);
  out << in.rdbuf();
  out.close();
  if (!in || !out || ::chmod((workDir + "/" + relative).c_str(), 0755) != 0) return "";
  return relative;
}

}  // namespace

zolktest::ProcessResult RunIsolated(const std::string &workDir, const char *program,
                                    const std::vector<std::string> &args, const Isolation &how) {
  const std::string outPath = workDir + "/.stdout", errPath = workDir + "/.stderr";
  const std::string runAsCopy = how.runAs.uid != 0 ? CopyForOtherUser(workDir, program) : "";
  if (how.runAs.uid != 0 && runAsCopy.empty()) {
    zolktest::ProcessResult failed;
    failed.exitCode = kCannotRunAs;
    return failed;
  }
  zolktest::ProcessResult r = zolktest::RunInChild([&]() -> int {
    if (how.privateMounts && zolktest::EnterPrivateMountNamespace() != 0) return 201;
    if (how.setup && how.setup() != 0) return 202;
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) _exit(203);
      if (::chdir(workDir.c_str()) != 0) _exit(204);
      const Credentials &as = how.runAs;
      if (as.uid != 0 && (::setgroups(as.groups.size(), as.groups.data()) != 0 ||
                          ::setresgid(as.gid, as.gid, as.gid) != 0 ||
                          ::setresuid(as.uid, as.uid, as.uid) != 0))
        _exit(207);
      if (!runAsCopy.empty() && ::access(runAsCopy.c_str(), X_OK) != 0) _exit(kCannotRunAs);
      struct rlimit limit = {how.fileSizeLimit, how.fileSizeLimit};
      if (how.fileSizeLimit != RLIM_INFINITY) {
        ::signal(SIGXFSZ, SIG_IGN);
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(205);
      }
      std::vector<char *> argv{const_cast<char *>(program)};
      for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(runAsCopy.empty() ? program : runAsCopy.c_str(), argv.data());
      _exit(127);
    }
    if (pid > 0 && how.killAfter > 0) {
      ::usleep(how.killAfter);
      ::kill(pid, SIGKILL);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return 206;
    if (how.collect) how.collect();
    return WIFEXITED(status) ? WEXITSTATUS(status) : 200;
  });
  std::ifstream out(outPath), err(errPath);
  std::ostringstream o, e;
  o << out.rdbuf();
  e << err.rdbuf();
  r.out = o.str();
  r.err = e.str();
  ::unlink(outPath.c_str());
  ::unlink(errPath.c_str());
  return r;
}

}  // namespace zolkcuitest
