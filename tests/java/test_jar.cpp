// zolklib2.jar in a real virtual machine: what its manifest declares, and
// what a native library that cannot be loaded says.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/Jvm.h"

namespace zolktest {
namespace {

#define STR "Ljava/lang/String;"

class JarTest : public JvmTest {};

TEST_F(JarTest, ManifestNamesModuleAndVersion) {
  jobject jar = New(Class("java/util/jar/JarFile"), "(" STR ")V", Str(ZOLK_TEST_JAR));
  ASSERT_NE(jar, nullptr) << TakeException();
  jobject manifest = Object(jar, "getManifest", "()Ljava/util/jar/Manifest;");
  ASSERT_NE(manifest, nullptr) << "the jar has no manifest";
  jobject attributes = Object(manifest, "getMainAttributes", "()Ljava/util/jar/Attributes;");
  const std::pair<const char*, std::string> cases[] = {
      {"Automatic-Module-Name", "pelvar.zolklib2"}, {"Implementation-Title", "zolklib2"},
      {"Implementation-Version", ZOLK_TEST_VERSION}, {"Implementation-Vendor", "Quorvex"}};
  for (const auto& [name, value] : cases) {
    jobject got = Object(attributes, "getValue", "(" STR ")" STR, Str(name));
    EXPECT_EQ(Text(static_cast<jstring>(got)), value) << name;
  }
}

// Nothing to load: the system log library by its default name on a
// java.library.path without it, the trace bridge by a path that does not exist.
class LoadFailureTest : public JvmTest {
 protected:
  static constexpr const char* kDir = "/nonexistent/zolk-test-lib";
  std::vector<std::string> Options() const override {
    return {std::string("-Djava.library.path=") + kDir,
            std::string("-Dpelvar.zolklib2.trace.library=") + kDir + "/libzolk2sj.so"};
  }
};

TEST_F(LoadFailureTest, MessageNamesLibraryPropertyAndPath) {
  const std::string path = std::string("java.library.path=") + kDir;
  const std::vector<std::string> cases[] = {
      {"loadSysLog", "library zolk2sys_r", "pelvar.zolklib2.syslog.library", path},
      {"loadTrace", std::string("library ") + kDir + "/libzolk2sj.so",
       "pelvar.zolklib2.trace.library", path}};
  jclass loader = Class("pelvar/zolklib2/ZolkNativeLibrary");
  for (const auto& c : cases) {
    StaticVoid(loader, c[0].c_str(), "()V");
    jthrowable thrown = env()->ExceptionOccurred();
    ASSERT_NE(thrown, nullptr) << c[0] << " loaded a library";
    env()->ExceptionClear();
    const std::string text = ToString(thrown);
    EXPECT_EQ(text.rfind("java.lang.UnsatisfiedLinkError: ", 0), 0u) << text;
    for (size_t i = 1; i < c.size(); ++i)
      EXPECT_NE(text.find(c[i]), std::string::npos) << c[0] << ": no " << c[i] << " in " << text;
    EXPECT_NE(Object(thrown, "getCause", "()Ljava/lang/Throwable;"), nullptr) << c[0];
  }
}

}  // namespace
}  // namespace zolktest
