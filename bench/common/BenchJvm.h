// A Java virtual machine inside a benchmark program.
#ifndef ZOLK_BENCH_COMMON_BENCHJVM_H
#define ZOLK_BENCH_COMMON_BENCHJVM_H

#include <jni.h>

#include <string>
#include <vector>

namespace zolkbench {

// Starts the virtual machine with the class path and the further options
// (for example "-Dname=value"); null when it does not start.
JNIEnv* StartJvm(const std::string& classPath, const std::vector<std::string>& options);

}  // namespace zolkbench

#endif
