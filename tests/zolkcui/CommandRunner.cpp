#include "CommandRunner.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
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

zolktest::ProcessResult RunIsolated(const std::string &workDir, const char *program,
                                    const std::vector<std::string> &args, const Isolation &how) {
  const std::string outPath = workDir + "/.stdout", errPath = workDir + "/.stderr";
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
      struct rlimit limit = {how.fileSizeLimit, how.fileSizeLimit};
      if (how.fileSizeLimit != RLIM_INFINITY) {
        ::signal(SIGXFSZ, SIG_IGN);
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(205);
      }
      std::vector<char *> argv{const_cast<char *>(program)};
      for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(program, argv.data());
      _exit(127);
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
