#include "common/BenchJvm.h"

namespace zolkbench {

JNIEnv* StartJvm(const std::string& classPath, const std::vector<std::string>& options) {
  std::vector<std::string> all = {"-Djava.class.path=" + classPath};
  all.insert(all.end(), options.begin(), options.end());
  std::vector<JavaVMOption> vmOptions;
  for (std::string& o : all) vmOptions.push_back({o.data(), nullptr});
  JavaVMInitArgs args{};
  args.version = JNI_VERSION_10;
  args.nOptions = static_cast<jint>(vmOptions.size());
  args.options = vmOptions.data();
  JavaVM* vm = nullptr;
  void* env = nullptr;
  if (JNI_CreateJavaVM(&vm, &env, &args) != JNI_OK) return nullptr;
  return static_cast<JNIEnv*>(env);
}

}  // namespace zolkbench
