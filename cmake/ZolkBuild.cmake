# Build settings shared by every target of the tree, and the helpers that
# declare libraries and tests the same way everywhere.

set(CMAKE_C_STANDARD 11)
set(CMAKE_C_STANDARD_REQUIRED ON)
set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
# Programs are position-independent executables too (-pie at link), whatever
# the compiler's default: their load address is random like the libraries'.
include(CheckPIESupported)
check_pie_supported()

# Only the interface of a library is visible; everything else is hidden by
# default and exported explicitly (attribute plus version script).
set(CMAKE_C_VISIBILITY_PRESET hidden)
set(CMAKE_CXX_VISIBILITY_PRESET hidden)
set(CMAKE_VISIBILITY_INLINES_HIDDEN ON)

if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "Build type" FORCE)
endif()

add_compile_options(-Wall -Wextra)
if(ZOLK_WERROR)
  add_compile_options(-Werror)
endif()

if(ZOLK_SANITIZE)
  set(_zolk_san "-fsanitize=${ZOLK_SANITIZE}")
  add_compile_options(${_zolk_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(${_zolk_san})
  # GCC's instrumentation makes -Wmaybe-uninitialized report standard
  # library code (std::regex) that is clean in the normal build, where the
  # warning stays on and is an error.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-maybe-uninitialized)
  endif()
endif()

# The fuzz build instruments everything for libFuzzer's coverage feedback;
# only the fuzz programs themselves link libFuzzer.
if(ZOLK_BUILD_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "ZOLK_BUILD_FUZZ needs clang (CC=clang-14 CXX=clang++-14)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# Private headers compiled into the libraries and never installed: owners of
# JNI references, descriptors and the like that several deliverables share.
add_library(zolk_internal INTERFACE)
target_include_directories(zolk_internal INTERFACE "${PROJECT_SOURCE_DIR}/src/internal")

# The version header of the public headers, generated so that it always
# says the package's version; it lies beside them once installed.
set(ZOLK_GENERATED_INCLUDE_DIR "${PROJECT_BINARY_DIR}/include")
configure_file("${PROJECT_SOURCE_DIR}/cmake/templates/zolk2version.h.in"
               "${ZOLK_GENERATED_INCLUDE_DIR}/zolk2version.h" @ONLY)
install(FILES "${ZOLK_GENERATED_INCLUDE_DIR}/zolk2version.h"
        DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}" COMPONENT dev)

# zolk_shared_library(<target>
#     OUTPUT_NAME <name> VERSION_SCRIPT <file>
#     SOURCES <src>... [DEFINITIONS <def>...] [LIBRARIES <lib>...])
#
# A deliverable shared library: versioned file name and SONAME, hidden
# visibility, the given linker version script binding its interface, and no
# undefined symbols left for the loader to find (checked where no sanitizer
# runtime supplies symbols late).
function(zolk_shared_library target)
  cmake_parse_arguments(ARG "" "OUTPUT_NAME;VERSION_SCRIPT" "SOURCES;DEFINITIONS;LIBRARIES" ${ARGN})
  add_library(${target} SHARED ${ARG_SOURCES})
  # libX.so -> libX.so.2 (the SONAME) -> libX.so.2.3: the major version
  # changes only when the interface breaks.
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME "${ARG_OUTPUT_NAME}"
    VERSION "${PROJECT_VERSION}"
    SOVERSION "${PROJECT_VERSION_MAJOR}"
    LINK_DEPENDS "${ARG_VERSION_SCRIPT}")
  target_include_directories(${target}
    PUBLIC  "$<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/src/include>"
            "$<BUILD_INTERFACE:${ZOLK_GENERATED_INCLUDE_DIR}>"
            "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>"
    PRIVATE "${CMAKE_CURRENT_SOURCE_DIR}")
  target_compile_definitions(${target} PRIVATE ${ARG_DEFINITIONS})
  target_link_libraries(${target} PRIVATE ${ARG_LIBRARIES})
  target_link_options(${target} PRIVATE "LINKER:--version-script=${ARG_VERSION_SCRIPT}")
  if(NOT ZOLK_SANITIZE)
    target_link_options(${target} PRIVATE "LINKER:--no-undefined")
  endif()
endfunction()

if(ZOLK_BUILD_TESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()

# zolk_add_gtest(<target> SOURCES <src>... [LIBRARIES <lib>...]
#     [DEFINITIONS <def>...] [LABELS <label>...] [ENVIRONMENT <var=value>]
#     [EXPORTS])
#
# One GoogleTest program; each TEST becomes its own CTest entry, so every case
# runs in a fresh process and library-wide state never leaks between cases.
# EXPORTS exports the program's own symbols, so that functions it defines
# (syslog, for example) take the place of the C library's for the libraries
# it loads. Label "tsan" marks the tests the ThreadSanitizer run executes
# (the tests that exercise threads). The labels are joined into one, since
# test discovery splits list-valued properties; `ctest -L` takes a regular
# expression, so `-L tsan` still finds "zolksys-tsan". ENVIRONMENT sets one
# variable for every test of the program.
function(zolk_add_gtest target)
  cmake_parse_arguments(ARG "EXPORTS" "ENVIRONMENT" "SOURCES;LIBRARIES;DEFINITIONS;LABELS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_LIBRARIES} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${target} PRIVATE ${ARG_DEFINITIONS})
  target_include_directories(${target} PRIVATE "${PROJECT_SOURCE_DIR}/tests")
  if(ARG_EXPORTS)
    set_target_properties(${target} PROPERTIES ENABLE_EXPORTS ON)
  endif()
  set(properties TIMEOUT 120)
  if(ARG_LABELS)
    string(JOIN "-" label ${ARG_LABELS})
    list(APPEND properties LABELS "${label}")
  endif()
  if(ARG_ENVIRONMENT)
    list(APPEND properties ENVIRONMENT "${ARG_ENVIRONMENT}")
  endif()
  gtest_discover_tests(${target}
    DISCOVERY_MODE PRE_TEST
    TEST_PREFIX "${target}."
    DISCOVERY_TIMEOUT 60
    PROPERTIES ${properties})
endfunction()
