// Owners of JNI resources for the natives of the toolkit's libraries.
//
// Each owner releases what it holds when it goes out of scope, on every path
// out of a native; none can be copied. They are header-only and private to
// the libraries that compile them in: nothing here is part of an installed
// interface.
#ifndef ZOLK_INTERNAL_ZOLKJNISCOPED_H
#define ZOLK_INTERNAL_ZOLKJNISCOPED_H

#include <jni.h>

#include <cstdlib>

namespace zolkjni {

// Owns one local reference (null allowed) and deletes it at scope exit, so a
// native that runs long or loops never exhausts the local reference table.
template <typename T>
class LocalRef final {
 public:
  LocalRef(JNIEnv* env, T ref) : env_(env), ref_(ref) {}
  ~LocalRef() {
    if (ref_ != nullptr) env_->DeleteLocalRef(ref_);
  }
  LocalRef(const LocalRef&) = delete;
  LocalRef& operator=(const LocalRef&) = delete;

  T get() const { return ref_; }
  explicit operator bool() const { return ref_ != nullptr; }

 private:
  JNIEnv* const env_;
  const T ref_;
};

// Owns the modified UTF-8 characters of a Java string (null when the string
// is null or the fetch failed, an exception then pending) and releases them.
class UtfChars final {
 public:
  UtfChars(JNIEnv* env, jstring s)
      : env_(env), s_(s), chars_(s != nullptr ? env->GetStringUTFChars(s, nullptr) : nullptr) {}
  ~UtfChars() {
    if (chars_ != nullptr) env_->ReleaseStringUTFChars(s_, chars_);
  }
  UtfChars(const UtfChars&) = delete;
  UtfChars& operator=(const UtfChars&) = delete;

  const char* get() const { return chars_; }

 private:
  JNIEnv* const env_;
  const jstring s_;
  const char* const chars_;
};

// Owns a block from malloc() (null allowed) and frees it at scope exit.
class MallocText final {
 public:
  MallocText() = default;
  ~MallocText() { std::free(text_); }
  MallocText(const MallocText&) = delete;
  MallocText& operator=(const MallocText&) = delete;

  const char* get() const { return text_; }
  // Where a helper stores the block it allocates.
  char** out() { return &text_; }

 private:
  char* text_ = nullptr;
};

// True, with the exception cleared, when a JNI call left one pending: the
// one-line "call, then check" of natives that must not let an exception
// reach their Java caller.
inline bool ClearedPendingException(JNIEnv* env) {
  if (!env->ExceptionCheck()) return false;
  env->ExceptionClear();
  return true;
}

}  // namespace zolkjni

#endif
