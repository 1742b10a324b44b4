# How the installed toolkit is consumed and shipped: the exported CMake
# package, the pkg-config files, and the Debian packages (CPack).
include(CMakePackageConfigHelpers)

set(ZOLK_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/ZolkLib2")
install(EXPORT ZolkLib2Targets NAMESPACE ZolkLib2:: DESTINATION "${ZOLK_CMAKE_DIR}" COMPONENT dev)
configure_package_config_file(cmake/templates/ZolkLib2Config.cmake.in
  "${PROJECT_BINARY_DIR}/ZolkLib2Config.cmake" INSTALL_DESTINATION "${ZOLK_CMAKE_DIR}")
write_basic_package_version_file("${PROJECT_BINARY_DIR}/ZolkLib2ConfigVersion.cmake"
  COMPATIBILITY SameMajorVersion)
install(FILES "${PROJECT_BINARY_DIR}/ZolkLib2Config.cmake"
              "${PROJECT_BINARY_DIR}/ZolkLib2ConfigVersion.cmake"
        DESTINATION "${ZOLK_CMAKE_DIR}" COMPONENT dev)

foreach(pc IN ITEMS zolk2sys_r zolk2sys zolk2trap)
  set(ZOLK_PC_NAME ${pc})
  if(pc STREQUAL "zolk2trap")
    set(ZOLK_PC_DESCRIPTION "ZOLKLib2 trace file reader")
  elseif(pc STREQUAL "zolk2sys_r")
    set(ZOLK_PC_DESCRIPTION "ZOLKLib2 system log library, reentrant build")
  else()
    set(ZOLK_PC_DESCRIPTION "ZOLKLib2 system log library, single-thread build")
  endif()
  configure_file(cmake/templates/zolk2.pc.in "${PROJECT_BINARY_DIR}/pkgconfig/${pc}.pc" @ONLY)
endforeach()
install(DIRECTORY "${PROJECT_BINARY_DIR}/pkgconfig/" DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig"
        COMPONENT dev)

# The Debian packages, split the way Debian splits a library (names after its
# policy: the runtime package carries the SONAME version, after a hyphen since
# the name ends in a digit; a Java library is lib<name>-java):
#   libzolklib2-2     runtime: the versioned libraries .so.2 and .so.2.3, the
#                     configuration file (a conffile), the loader entry
#   libzolklib2-dev   dev: headers, .so links, pkg-config, CMake package, man3
#   libzolklib2-java  java: the jars, and links in the JNI directory, so that
#                     System.loadLibrary finds the natives without the -dev
#                     package's .so links
#   zolklib2-tools    tools: the commands and their pages
# The product's files stay under the prefix. What Debian expects elsewhere
# (/usr/share/doc, links on PATH and in man's and the JVM's directories,
# /etc/ld.so.conf.d) is installed by rules left out of a plain install and
# carried out only into a staging directory, so `cmake --install` never
# writes outside its prefix, with or without a component; CPack stages each
# component by name, and these rules with it.
set(ZOLK_DEB_MAINTAINER "ZOLKLib2 maintainers <zolklib2@quorvex.example>")
# A native package: the tree is its own Debian source, so the version has no
# Debian revision and the changelog is changelog.gz.
set(ZOLK_DEB_VERSION "${PROJECT_VERSION}")
set(ZOLK_DEB_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(ZOLK_DEB_LIBDIR "${ZOLK_DEB_PREFIX}/${CMAKE_INSTALL_LIBDIR}")
set(_zolk_deb_packages runtime libzolklib2-2 dev libzolklib2-dev java libzolklib2-java tools zolklib2-tools)
set(_deb "${PROJECT_BINARY_DIR}/debian")

file(REMOVE_RECURSE "${_deb}")  # no link of an earlier configuration stays
configure_file(cmake/templates/debian-copyright.in "${_deb}/copyright" @ONLY)
configure_file(cmake/templates/debian-changelog.in "${_deb}/changelog" @ONLY)
execute_process(COMMAND gzip -9n -c "${_deb}/changelog" OUTPUT_FILE "${_deb}/changelog.gz"
                COMMAND_ERROR_IS_FATAL ANY)
foreach(f IN ITEMS conffiles triggers prebuild.cmake)
  configure_file(cmake/templates/debian-${f}.in "${_deb}/${f}" @ONLY)
endforeach()
file(WRITE "${_deb}/runtime/etc/ld.so.conf.d/zolklib2.conf" "${ZOLK_DEB_LIBDIR}\n")

# An absolute link in a component's tree: its two ends lie in different top
# directories.
function(zolk_deb_link component link target)
  get_filename_component(dir "${_deb}/${component}${link}" DIRECTORY)
  file(MAKE_DIRECTORY "${dir}")
  file(CREATE_LINK "${target}" "${_deb}/${component}${link}" SYMBOLIC)
endfunction()
foreach(cmd IN ITEMS zolk2conf zolk2getconf zolk2tail)
  zolk_deb_link(tools "/usr/bin/${cmd}" "${ZOLK_DEB_PREFIX}/${CMAKE_INSTALL_BINDIR}/${cmd}")
endforeach()
# man wants the pages under /usr compressed: copies, since a link named .gz
# cannot lead to the plain pages of the prefix.
foreach(page IN ITEMS zolktail/man/zolk2tail.1 zolkcui/man/zolk2conf.8 zolkcui/man/zolk2getconf.8)
  get_filename_component(name "${page}" NAME)
  string(REGEX REPLACE ".*\\." "man" section "${name}")
  file(MAKE_DIRECTORY "${_deb}/tools/usr/share/man/${section}")
  execute_process(COMMAND gzip -9n -c "${PROJECT_SOURCE_DIR}/${page}"
                  OUTPUT_FILE "${_deb}/tools/usr/share/man/${section}/${name}.gz" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
foreach(jar IN ITEMS zolklib2.jar zolklib2-loggerfinder.jar)
  zolk_deb_link(java /usr/share/java/${jar} "${ZOLK_DEB_PREFIX}/${CMAKE_INSTALL_DATADIR}/java/${jar}")
endforeach()
# Debian's JNI directory is on the JDK's default java.library.path.
foreach(lib IN ITEMS zolk2sys_r zolk2sys zolk2sj)
  zolk_deb_link(java "/usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/jni/lib${lib}.so"
                "${ZOLK_DEB_LIBDIR}/lib${lib}.so.${PROJECT_VERSION_MAJOR}")
endforeach()

while(_zolk_deb_packages)
  list(POP_FRONT _zolk_deb_packages component pkg)
  string(TOUPPER ${component} c)
  set(CPACK_DEBIAN_${c}_PACKAGE_NAME ${pkg})
  foreach(doc IN ITEMS copyright changelog.gz)
    configure_file("${_deb}/${doc}" "${_deb}/${component}/usr/share/doc/${pkg}/${doc}" COPYONLY)
  endforeach()
  # Only into a staging directory (DESTDIR, as CPack gives): an install of
  # the component into a prefix must not write links into the machine's /usr.
  install(CODE "
    if(\"\$ENV{DESTDIR}\" STREQUAL \"\")
      message(STATUS \"Left out without DESTDIR, as they are the Debian package's: ${_deb}/${component}\")
    else()
      file(COPY \"${_deb}/${component}/\" DESTINATION \"\$ENV{DESTDIR}/\")
    endif()" COMPONENT ${component} EXCLUDE_FROM_ALL)
endwhile()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev java tools)
set(CPACK_PACKAGE_NAME zolklib2)
set(CPACK_PACKAGE_VENDOR "Quorvex")
set(CPACK_PACKAGE_CONTACT "${ZOLK_DEB_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_STRIP_FILES ON)
set(CPACK_PRE_BUILD_SCRIPTS "${_deb}/prebuild.cmake")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The C and C++ runtime dependencies come from dpkg-shlibdeps. The run path of
# the Java trace bridge names the core trace library's directory, which comes
# with the core product and not with Debian: the build's own libraries (and
# the core this tree links) answer for their directories, without a package.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    "${PROJECT_BINARY_DIR}/zolktrap;${PROJECT_BINARY_DIR}/zolksys")
if(ZOLK_CORE_LIBRARY)
  get_filename_component(_core_dir "${ZOLK_CORE_LIBRARY}" DIRECTORY)
  list(APPEND CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${_core_dir}")
else()
  list(APPEND CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${PROJECT_BINARY_DIR}/support/zolk2t")
endif()
# The other packages take the runtime package of the same version.
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_COMPONENT_DEV_DEPENDS runtime)
set(CPACK_COMPONENT_JAVA_DEPENDS runtime)
set(CPACK_COMPONENT_TOOLS_DEPENDS runtime)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "ZOLKLib2 shared libraries
The shared libraries of the ZOLKLib2 trace toolkit: the system log library
(reentrant and single-thread builds) with log file cleanup and the natives of
its Java classes, the trace file reader, and the Java trace bridge, which
needs the core trace library of the ZOLKLib2 product.")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA "${_deb}/conffiles;${_deb}/triggers")
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_DESCRIPTION "ZOLKLib2 development files
Headers, library links, pkg-config files, the CMake package and the section 3
manual pages of the ZOLKLib2 libraries.")
set(CPACK_DEBIAN_JAVA_PACKAGE_SECTION java)
set(CPACK_DEBIAN_JAVA_DESCRIPTION "ZOLKLib2 Java classes
The jar of the ZOLKLib2 Java classes (system log, process operations, trace
bridge) with its Javadoc and sources; links in the JNI directory let a Java
program load the natives of the runtime package by name.")
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "ZOLKLib2 commands
zolk2conf and zolk2getconf set and print the keys of the trace configuration
file; zolk2tail prints a trace set and follows its writer.")
include(CPack)
