# How the installed toolkit is consumed and shipped: the exported CMake
# package, the pkg-config files, and the Debian package (CPack).
include(CMakePackageConfigHelpers)

set(ZOLK_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/ZolkLib2")
install(EXPORT ZolkLib2Targets NAMESPACE ZolkLib2:: DESTINATION "${ZOLK_CMAKE_DIR}")
configure_package_config_file(cmake/templates/ZolkLib2Config.cmake.in
  "${PROJECT_BINARY_DIR}/ZolkLib2Config.cmake" INSTALL_DESTINATION "${ZOLK_CMAKE_DIR}")
write_basic_package_version_file("${PROJECT_BINARY_DIR}/ZolkLib2ConfigVersion.cmake"
  COMPATIBILITY SameMajorVersion)
install(FILES "${PROJECT_BINARY_DIR}/ZolkLib2Config.cmake"
              "${PROJECT_BINARY_DIR}/ZolkLib2ConfigVersion.cmake"
        DESTINATION "${ZOLK_CMAKE_DIR}")

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
install(DIRECTORY "${PROJECT_BINARY_DIR}/pkgconfig/" DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig")

# The Debian package: everything under the prefix, the configuration file
# a conffile (an operator's edits survive upgrades), the library directory
# made known to the dynamic loader.
configure_file(cmake/templates/debian-ldconfig.cmake.in "${PROJECT_BINARY_DIR}/debian/ldconfig.cmake" @ONLY)
set(CPACK_INSTALL_SCRIPTS "${PROJECT_BINARY_DIR}/debian/ldconfig.cmake")
configure_file(cmake/templates/debian-conffiles.in "${PROJECT_BINARY_DIR}/debian/conffiles" @ONLY)
foreach(script IN ITEMS postinst postrm)
  configure_file(cmake/templates/debian-${script}.in "${PROJECT_BINARY_DIR}/debian/${script}"
                 @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                 GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zolklib2)
set(CPACK_PACKAGE_VENDOR "Quorvex")
set(CPACK_PACKAGE_CONTACT "ZOLKLib2 maintainers <zolklib2@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Support toolkit of the ZOLKLib2 trace library")
set(CPACK_PACKAGE_DESCRIPTION
  "System log library (reentrant and single-thread builds) with log file cleanup and Java natives,\n the trace file reader and follower, the Java trace bridge, and the configuration commands.")
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The bridge also needs the core trace library, which comes with the core
# product, not with Debian; it is loaded from /opt/quorvex/common/lib.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.36), libstdc++6 (>= 12), libgcc-s1")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "openjdk-17-jre-headless")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  "${PROJECT_BINARY_DIR}/debian/conffiles;${PROJECT_BINARY_DIR}/debian/postinst;${PROJECT_BINARY_DIR}/debian/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};ALL;/")
include(CPack)
