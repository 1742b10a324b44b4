// Natives of pelvar.zolklib2.ZolkJniTrace: the process-wide trace of the
// core, initialised and finalised under a call counter, and messages written
// with the calling Java thread's identifier.
//
// Java exceptions never leave these natives: each is cleared, and a native
// answers null, an int, or an error object of pelvar.zolklib2.ZolkErrCode.
// Strings are cut silently to their bounds; one whose conversion raised
// reaches the core as an empty string.
#include <jni.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "ZolkJniCache.h"
#include "ZolkJniSupport.h"

using zolkjni::LookupGetBytes;
using zolktj::Bounded;
using zolktj::Outcome;
using namespace zolktj::zolklib2;

namespace {

// Calls of the initialise native minus calls of the finalise native. Only
// the call that takes it from 0 to 1 initialises the core, only one that
// takes it to 0 or below finalises it. cs_transitionLock is held across
// each change and the core call it leads to, so that concurrent Java
// threads can neither lose a count nor initialise or finalise twice for
// one transition; the counter itself is atomic for any reader.
std::atomic<std::int32_t> zolk_cs_iCountInitCall{0};
std::mutex cs_transitionLock;

// A string argument into buf: null stays null; a conversion that raised
// leaves buf empty. getBytes null: modified UTF-8, else the default charset.
template <int N>
const char* convert(JNIEnv* env, jmethodID getBytes, jstring s, Bounded<N>* buf) {
  if (s == nullptr) return nullptr;
  if (getBytes != nullptr)
    ZOLK_jstringToStringZeroMultiByte(env, getBytes, buf->text, s, N);
  else
    ZOLK_jstringToStringZero(env, buf->text, s, N);
  return buf->text;
}

// The four put natives: withType chooses the core call (the type itself
// may still be null), multiByte the conversion.
jobject put(JNIEnv* env, bool multiByte, jint level, jstring id, jstring text, bool withType,
            jstring type, jstring message) {
  jmethodID getBytes = nullptr;
  if (multiByte) {
    getBytes = LookupGetBytes(env);
    if (getBytes == nullptr) return JniStepFailed(env);
  }
  Bounded<kIdMax> idBuf;
  Bounded<kTextMax> textBuf;
  Bounded<kTypeMax> typeBuf;
  Bounded<kMessageMax> messageBuf;
  const char* idText = convert(env, getBytes, id, &idBuf);
  const char* textText = convert(env, getBytes, text, &textBuf);
  const char* typeText = withType ? convert(env, getBytes, type, &typeBuf) : nullptr;
  const char* messageText = convert(env, getBytes, message, &messageBuf);
  char tid[zolktj::kThreadIdSize];
  if (ZOLK_getJavaThreadID(env, tid) != 0) std::memcpy(tid, zolktj::kNoThreadId, sizeof tid);
  const int rc = withType
                     ? ZOLK2_PutWithMsgTypeAndTid(level, idText, tid, textText, typeText, messageText)
                     : ZOLK2_PutWithIdAndTidEx(level, idText, tid, textText, messageText);
  return ResultOf(env, rc);
}

// The natives that take one optional path in the default charset.
template <typename Call>
jobject withPath(JNIEnv* env, jstring path, Call call) {
  const jmethodID getBytes = LookupGetBytes(env);
  if (getBytes == nullptr) return JniStepFailed(env);
  Bounded<kPathMax> buf;
  return ResultOf(env, call(convert(env, getBytes, path, &buf)));
}

}  // namespace

extern "C" {

JNIEXPORT jobject JNICALL Java_pelvar_zolklib2_ZolkJniTrace_fs_1zolk_1initialize(
    JNIEnv* env, jclass, jstring name, jstring path, jint size, jint count, jint flags) {
  std::lock_guard<std::mutex> transition(cs_transitionLock);
  // Counted first, whatever follows: a failed first call still needs its finalise.
  if (zolk_cs_iCountInitCall.fetch_add(1) + 1 > 1) return nullptr;
  const jmethodID getBytes = LookupGetBytes(env);
  if (getBytes == nullptr || name == nullptr) return JniStepFailed(env);
  Bounded<kNameMax> nameBuf;
  convert(env, getBytes, name, &nameBuf);
  Bounded<kPathMax> pathBuf;
  ZOLK2_TraceOption block;
  const ZOLK2_TraceOption* option = zolktj::OptionBlock(
      &block, path != nullptr, size, count, [&] { return convert(env, getBytes, path, &pathBuf); });
  const int r = ZOLK2_Initialize(option, nameBuf.text);
  switch (zolktj::JudgeCreate(r, option != nullptr, flags, Outcome::kSuccess,
                              Outcome::kFailureWithCleanup)) {
    case Outcome::kSuccess:
      return nullptr;
    case Outcome::kFailure:
      return ErrorFromCore(env);
    case Outcome::kFailureWithCleanup:
      break;
  }
  jobject err = ErrorFromCore(env);
  ZOLK2_Finalize();
  return err;
}

JNIEXPORT jobject JNICALL Java_pelvar_zolklib2_ZolkJniTrace_fs_1zolk_1finalize(JNIEnv* env,
                                                                             jclass) {
  std::lock_guard<std::mutex> transition(cs_transitionLock);
  if (zolk_cs_iCountInitCall.fetch_sub(1) - 1 > 0) return nullptr;
  return ResultOf(env, ZOLK2_Finalize());
}

JNIEXPORT jobject JNICALL Java_pelvar_zolklib2_ZolkJniTrace_fs_1zolk_1putWithIdEx(
    JNIEnv* env, jclass, jint level, jstring id, jstring text, jstring message) {
  return put(env, false, level, id, text, false, nullptr, message);
}

JNIEXPORT jobject JNICALL Java_pelvar_zolklib2_ZolkJniTrace_fs_1zolk_1putWithMsgType(
    JNIEnv* env, jclass, jint level, jstring id, jstring text, jstring type, jstring message) {
  return put(env, false, level, id, text, true, type, message);
}

JNIEXPORT jobject JNICALL Java_pelvar_zolklib2_ZolkJniTrace_fs_1zolk_1putWithIdEx_1mb(
    JNIEnv* env, jclass, jint level, jstring id, jstring text, jstring message) {
  return put(env, true, level, id, text, false, nullptr, message);
}

JNIEXPORT jobject JNICALL Java_pelvar_zolklib2_ZolkJniTrace_fs_1zolk_1putWithMsgType_1mb(
    JNIEnv* env, jclass, jint level, jstring id, jstring text, jstring type, jstring message) {
  return put(env, true, level, id, text, true, type, message);
}

JNIEXPORT jobject JNICALL Java_pelvar_zolklib2_ZolkJniTrace_fs_1zolk_1getLastError(JNIEnv* env,
                                                                                 jclass) {
  return ErrorFromCore(env);
}

JNIEXPORT jint JNICALL Java_pelvar_zolklib2_ZolkJniTrace_fs_1zolk_1setFileThreshold(
    JNIEnv*, jclass, jint threshold) {
  return ZOLK2_SetFileThreshold(threshold);
}

JNIEXPORT jint JNICALL Java_pelvar_zolklib2_ZolkJniTrace_fs_1zolk_1setLogLevel(JNIEnv*, jclass,
                                                                             jint level) {
  return ZOLK2_SetLogLevel(level);
}

JNIEXPORT jint JNICALL Java_pelvar_zolklib2_ZolkJniTrace_fs_1zolk_1setShmThreshold(
    JNIEnv*, jclass, jint threshold) {
  return ZOLK2_SetShmThreshold(threshold);
}

JNIEXPORT jint JNICALL Java_pelvar_zolklib2_ZolkJniTrace_fs_1zolk_1getLogLevel(JNIEnv*, jclass) {
  return ZOLK2_GetLogLevel();
}

JNIEXPORT jobject JNICALL Java_pelvar_zolklib2_ZolkJniTrace_fs_1zolk_1logFileClearByNum(
    JNIEnv* env, jclass, jstring path, jint number) {
  return withPath(env, path, zolktj::ClearLogsByNum(number));
}

JNIEXPORT jobject JNICALL Java_pelvar_zolklib2_ZolkJniTrace_fs_1zolk_1logFileClearByTime(
    JNIEnv* env, jclass, jstring path, jint age) {
  return withPath(env, path, zolktj::ClearLogsByTime(age));
}

JNIEXPORT jobject JNICALL Java_pelvar_zolklib2_ZolkJniTrace_fs_1zolk_1traceBackup(JNIEnv* env,
                                                                                jclass,
                                                                                jstring path) {
  return withPath(env, path, [](const char* p) { return ZOLK2_TraceBackup(p); });
}

JNIEXPORT jobject JNICALL Java_pelvar_zolklib2_ZolkJniTrace_fs_1zolk_1ChFileAttr(JNIEnv* env,
                                                                               jclass,
                                                                               jint attribute) {
  // The same preamble as the natives that convert strings, though none is.
  if (LookupGetBytes(env) == nullptr) return JniStepFailed(env);
  return ResultOf(env, ZOLK2_ChFileAttr(attribute));
}

}  // extern "C"
