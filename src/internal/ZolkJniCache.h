// A Java class and the methods the natives call on it, looked up on first
// use and kept for the life of the process.
//
// A lookup per call costs more than the conversion it serves, and the
// answer never changes: the classes kept here are system classes, which are
// never unloaded, so a global reference to them stays valid while the
// virtual machine runs (it is never deleted; unloading the native library
// leaves it to the virtual machine). Header-only and private to the
// libraries that compile it in.
#ifndef ZOLK_INTERNAL_ZOLKJNICACHE_H
#define ZOLK_INTERNAL_ZOLKJNICACHE_H

#include <jni.h>

#include <atomic>
#include <cstddef>

#include "ZolkJniScoped.h"

namespace zolkjni {

// One method of a cached class: instance or static, by name and signature.
struct MethodSig {
  const char* name;
  const char* signature;
  bool isStatic;
};

// The class named className with its N methods, found by their signatures.
// Lookups that fail store nothing, so the next call looks up again and
// fails or succeeds as it would have without the cache. Threads that find it empty at once may
// all look up; one global reference wins, the others are deleted, and the
// method IDs every thread stores are the same.
template <std::size_t N>
class CachedClass final {
 public:
  constexpr CachedClass(const char* className, const MethodSig (&signatures)[N])
      : className_(className), signatures_(signatures) {}
  CachedClass(const CachedClass&) = delete;
  CachedClass& operator=(const CachedClass&) = delete;

  // True once the class and every method are found. false with the lookup's
  // exception cleared (or none, for a lookup that answered null) otherwise.
  bool Resolve(JNIEnv* env) {
    if (class_.load(std::memory_order_acquire) != nullptr) return true;
    LocalRef<jclass> local(env, env->FindClass(className_));
    if (ClearedPendingException(env) || !local) return false;
    for (std::size_t i = 0; i < N; ++i) {
      const MethodSig& m = signatures_[i];
      const jmethodID id = m.isStatic ? env->GetStaticMethodID(local.get(), m.name, m.signature)
                                      : env->GetMethodID(local.get(), m.name, m.signature);
      if (ClearedPendingException(env) || id == nullptr) return false;
      methods_[i].store(id, std::memory_order_relaxed);
    }
    const auto global = static_cast<jclass>(env->NewGlobalRef(local.get()));
    if (global == nullptr) {
      ClearedPendingException(env);
      return false;
    }
    jclass expected = nullptr;
    // The release publishes the method IDs stored above with the class.
    if (!class_.compare_exchange_strong(expected, global, std::memory_order_release,
                                        std::memory_order_acquire))
      env->DeleteGlobalRef(global);
    return true;
  }

  // Valid after a Resolve() that answered true.
  jclass Class() const { return class_.load(std::memory_order_acquire); }
  jmethodID Method(std::size_t i) const { return methods_[i].load(std::memory_order_relaxed); }

 private:
  const char* const className_;
  const MethodSig (&signatures_)[N];
  std::atomic<jclass> class_{nullptr};
  std::atomic<jmethodID> methods_[N] = {};
};

// String.getBytes()[B: the conversion into the default encoding.
inline CachedClass<1>& StringGetBytes() {
  static constexpr MethodSig kMethods[] = {{"getBytes", "()[B", false}};
  static CachedClass<1> cache("java/lang/String", kMethods);
  return cache;
}

// String.getBytes()[B, or null (exception cleared) when it cannot be found.
inline jmethodID LookupGetBytes(JNIEnv* env) {
  CachedClass<1>& cache = StringGetBytes();
  return cache.Resolve(env) ? cache.Method(0) : nullptr;
}

}  // namespace zolkjni

#endif
