// The sanitizer a test program is built with, for the few tests that must
// do less, or otherwise, under one.
#ifndef ZOLK_TESTS_COMMON_SANITIZERS_H
#define ZOLK_TESTS_COMMON_SANITIZERS_H

#if defined(__SANITIZE_ADDRESS__)
#define ZOLK_TEST_ADDRESS_SANITIZER 1
#endif
#if defined(__SANITIZE_THREAD__)
#define ZOLK_TEST_THREAD_SANITIZER 1
#endif
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZOLK_TEST_ADDRESS_SANITIZER 1
#endif
#if __has_feature(thread_sanitizer)
#define ZOLK_TEST_THREAD_SANITIZER 1
#endif
#endif

namespace zolktest {

#ifdef ZOLK_TEST_ADDRESS_SANITIZER
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#ifdef ZOLK_TEST_THREAD_SANITIZER
constexpr bool kThreadSanitizer = true;
#else
constexpr bool kThreadSanitizer = false;
#endif

}  // namespace zolktest

#endif
