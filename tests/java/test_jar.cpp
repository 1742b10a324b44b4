// zolklib2.jar in a real virtual machine: what its manifest declares, what
// its error objects say to a person, and what a missing native library says.
#include <functional>
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
  struct Case {
    const char* name;
    std::string value;
  };
  const Case cases[] = {
      {"Automatic-Module-Name", "pelvar.zolklib2"},
      {"Implementation-Title", "zolklib2"},
      {"Implementation-Version", ZOLK_TEST_VERSION},
      {"Implementation-Vendor", "Quorvex"},
  };
  for (const Case& c : cases) {
    auto value = static_cast<jstring>(
        Object(attributes, "getValue", "(" STR ")" STR, Str(c.name)));
    EXPECT_EQ(Text(value), c.value) << c.name;
  }
}

// The fields in brackets stay first and unchanged; what follows tells the
// step that failed and, where the toolkit knows it, the code's meaning.
TEST_F(JarTest, ErrorTextsSayWhatFailed) {
  const char* const err2 = "pelvar/zolklib2/ZolkErrCode";
  const char* const errM = "pelvar/zolklibM/ZolkErrCode";
  const auto before = [&](const char* cls, int code, int position) {
    const std::string sig = std::string("(II)L") + cls + ";";
    return StaticObject(Class(cls), "errorBeforeJNI", sig.c_str(), code, position);
  };
  struct Case {
    const char* name;
    std::function<jobject()> make;
    const char* fields;
    const char* says;
  };
  const Case cases[] = {
      {"zolklib2 core failure", [&] { return New(Class(err2), "(II)V", 0x0A000123, 17); },
       "word=0x0A000123, code=10, position=291, detail=17",
       "the call into the core trace library failed"},
      {"zolklib2 bridge step", [&] { return before(err2, 8, 18); },
       "word=0x08000012, code=8, position=18, detail=0", "a step of the native bridge failed"},
      {"zolklib2 no error", [&] { return New(Class(err2), "(II)V", -1, 0); },
       "word=0xFFFFFFFF, code=-1, position=-1, detail=0", "no error is recorded"},
      {"zolklibM null argument", [&] { return before(errM, 1, 0x321); },
       "word=0x01000321, code=1, position=801, detail=0", "a required argument is null"},
      {"zolklibM too long", [&] { return before(errM, 13, 0x321); },
       "word=0x0D000321, code=13, position=801, detail=0", "an argument does not fit its buffer"},
      {"zolklibM core failure, deleted again",
       [&] {
         jobject e = StaticObject(Class(errM), "errorAfterJNI", "(II)Lpelvar/zolklibM/ZolkErrCode;",
                                  0x0A000123, 17);
         Void(e, "setErrPosInfoByIndex", "(I)V", 5);
         return e;
       },
       "word=0x0A000123, code=10, position=5, detail=17", "the instance was deleted again"},
  };
  for (const Case& c : cases) {
    const std::string text = ToString(c.make());
    const std::string fields = std::string("ZolkErrCode[") + c.fields + "]: ";
    EXPECT_EQ(text.substr(0, fields.size()), fields) << c.name;
    EXPECT_NE(text.find(c.says), std::string::npos) << c.name << ": " << text;
  }
}

// No library can be found: the system log library by its default name on
// an empty java.library.path, the trace bridge by a path that does not exist.
class LoadFailureTest : public JvmTest {
 protected:
  static constexpr const char* kPath = "/nonexistent/zolk-test-lib";
  std::vector<std::string> Options() const override {
    return {std::string("-Djava.library.path=") + kPath,
            std::string("-Dpelvar.zolklib2.trace.library=") + kPath + "/libzolk2sj.so"};
  }
};

TEST_F(LoadFailureTest, MessageNamesLibraryPropertyAndPath) {
  struct Case {
    const char* loader;
    std::string library;
    const char* property;
  };
  const Case cases[] = {
      {"loadSysLog", "zolk2sys_r", "pelvar.zolklib2.syslog.library"},
      {"loadTrace", std::string(kPath) + "/libzolk2sj.so", "pelvar.zolklib2.trace.library"},
  };
  jclass loader = Class("pelvar/zolklib2/ZolkNativeLibrary");
  for (const Case& c : cases) {
    StaticVoid(loader, c.loader, "()V");
    jthrowable thrown = env()->ExceptionOccurred();
    ASSERT_NE(thrown, nullptr) << c.loader << " loaded a library";
    env()->ExceptionClear();
    const std::string text = ToString(thrown);
    for (const std::string& part :
         {std::string("java.lang.UnsatisfiedLinkError: "), "library " + c.library,
          std::string(c.property), "java.library.path=" + std::string(kPath)})
      EXPECT_NE(text.find(part), std::string::npos) << c.loader << ": no \"" << part << "\" in " << text;
    EXPECT_NE(Object(thrown, "getCause", "()Ljava/lang/Throwable;"), nullptr) << c.loader;
  }
}

}  // namespace
}  // namespace zolktest
