// What the machine lets a test do, and the private mount namespace that
// lets a test change /dev, /opt or mount a small file system without
// touching the host.
#ifndef ZOLK_TESTS_COMMON_PRIVILEGES_H
#define ZOLK_TESTS_COMMON_PRIVILEGES_H

#include <string>

namespace zolktest {

bool IsRoot();

// Empty when this process may create a private mount namespace and mount a
// tmpfs in it (probed once, in a child); otherwise the reason why not, for
// GTEST_SKIP().
const std::string& PrivateMountUnavailable();

// In the calling process (normally a forked child): a private mount
// namespace, so that mounts made afterwards are seen by nobody else.
// Returns 0 or errno.
int EnterPrivateMountNamespace();

// Mounts a tmpfs of the given size (0: default) at dir. Returns 0 or errno.
int MountTmpfs(const std::string& dir, unsigned long sizeBytes = 0);

}  // namespace zolktest

#endif
