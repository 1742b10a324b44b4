# The Java side of the tree: the JDK's jni.h for the natives, javac and jar
# for the classes, and (for the tests only) the virtual machine library.
#
# The toolkit targets Java 17. Where JAVA_HOME is not set, the Debian JDK 17
# is preferred over whatever else the machine has on its PATH.
set(ZOLK_JAVA_RELEASE 17)
if(NOT DEFINED ENV{JAVA_HOME} AND EXISTS "/usr/lib/jvm/java-17-openjdk-amd64")
  set(ENV{JAVA_HOME} "/usr/lib/jvm/java-17-openjdk-amd64")
endif()
if(DEFINED ENV{JAVA_HOME} AND NOT DEFINED JAVA_HOME)
  set(JAVA_HOME "$ENV{JAVA_HOME}")
endif()

find_package(Java ${ZOLK_JAVA_RELEASE} REQUIRED COMPONENTS Development Runtime)
find_package(JNI ${ZOLK_JAVA_RELEASE} REQUIRED COMPONENTS JVM)
include(UseJava)

set(CMAKE_JAVA_COMPILE_FLAGS --release ${ZOLK_JAVA_RELEASE} -Xlint:all -Xdoclint:all/protected -Werror -encoding UTF-8)
