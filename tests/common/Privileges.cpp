#include "common/Privileges.h"

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/Process.h"

namespace zolktest {

bool IsRoot() { return ::geteuid() == 0; }

int EnterPrivateMountNamespace() {
  if (::unshare(CLONE_NEWNS) != 0) return errno;
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return errno;
  return 0;
}

int MountTmpfs(const std::string& dir, unsigned long sizeBytes) {
  std::string opts = "mode=0755";
  if (sizeBytes != 0) opts += ",size=" + std::to_string(sizeBytes);
  if (::mount("zolktest", dir.c_str(), "tmpfs", 0, opts.c_str()) != 0) return errno;
  return 0;
}

const std::string& PrivateMountUnavailable() {
  static const std::string reason = [] {
    if (!IsRoot()) return std::string("needs root to create a private mount namespace");
    ProcessResult r = RunInChild([] {
      int e = EnterPrivateMountNamespace();
      if (e == 0) e = MountTmpfs("/tmp");
      return e;  // errno values fit an exit status
    });
    if (r.exitCode == 0) return std::string();
    return std::string("cannot create a private mount namespace with a tmpfs here (") +
           (r.exitCode > 0 ? std::strerror(r.exitCode) : "child failed") + ")";
  }();
  return reason;
}

}  // namespace zolktest
