// The bounded copy and the thread-id formatting of the system log library
// (reentrant build) against a model: ZOLK_CopyAndTrimMultiByteString into a
// buffer of exactly its size, SetTidFormat and GetTidFormat, and messages
// assembled with and without the thread id, cut at 1023 bytes with every
// piece after a cut dropped. Each message must reach syslog exactly as the
// model assembles it, with the mapped priority, and the connection must be
// set up again after any settings change and only then.
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>

#include "FuzzCommon.h"
#include "SyslogCapture.h"
#include "Zolk_Log.h"

namespace {

using namespace zolkfuzz;

// A text argument: null, or bytes up to their first NUL.
struct Text {
  bool null = false;
  std::string s;
  const char* get() const { return null ? nullptr : s.c_str(); }
};

Text consumeText(FuzzedDataProvider& fdp, size_t shortMax) {
  Text t;
  switch (fdp.ConsumeIntegralInRange(0, 7)) {
    case 0:
      t.null = true;
      break;
    case 1:  // near the message limit
      t.s = std::string(fdp.ConsumeIntegralInRange<size_t>(1015, 1030), 'x') +
            fdp.ConsumeRandomLengthString(16);
      break;
    default:
      t.s = fdp.ConsumeRandomLengthString(shortMax);
  }
  t.s = std::string(t.s.c_str());
  return t;
}

// The message as pieces appended with the bounded copy's rule: a piece
// that does not fit with a byte to spare is cut, and ends the message.
struct Assembly {
  std::string text;
  bool room = true;
  bool append(const Text& t) {
    if (!room) return false;
    const size_t size = 1024 - text.size();
    text += t.s.substr(0, size - 1);
    room = t.s.size() + 2 <= size;
    return room;
  }
};

const char* tidFormat(int mode) {
  switch (mode) {
    case 1: return "%lX";
    case 2: return "%lu";
    case 4: return "%08lX";
    case 8: return "%016lX";
    default: return nullptr;
  }
}

struct Expected {
  std::string ident, format = "%08lX", prefix = "[", suffix = "] ";
  int option = 3, facility = 8;
  bool connectionValid = false;
};

void checkRecord(const tag_ZOLK2_SYSLOG& rec, const Expected& e) {
  FUZZ_CHECK(std::string(rec.ident) == e.ident && rec.ident[16] == '\0', "identity");
  FUZZ_CHECK(rec.option == e.option && rec.facility == e.facility, "option or facility");
  FUZZ_CHECK(std::string(rec.tidFormat) == e.format, "thread id format");
  FUZZ_CHECK(std::string(rec.tidPrefix) == e.prefix && rec.tidPrefix[7] == '\0', "prefix");
  FUZZ_CHECK(std::string(rec.tidSuffix) == e.suffix && rec.tidSuffix[7] == '\0', "suffix");
}

void checkCopy(FuzzedDataProvider& fdp) {
  const unsigned size = fdp.ConsumeBool() ? fdp.ConsumeIntegralInRange(0u, 40u)
                                          : fdp.ConsumeIntegralInRange(0u, 1100u);
  const Text src = consumeText(fdp, 48);
  std::unique_ptr<char[]> dst(new char[size == 0 ? 1 : size]);  // exactly size bytes
  std::memset(dst.get(), 0x55, size == 0 ? 1 : size);
  const int rc = ZOLK_CopyAndTrimMultiByteString(dst.get(), src.get(), size);
  const std::string what = "copy of " + std::to_string(src.s.size()) + " bytes into " +
                           std::to_string(size);
  if (size == 0) {
    FUZZ_CHECK(rc == 0 && dst[0] == 0x55, what);
    return;
  }
  FUZZ_CHECK(rc == (src.s.size() + 2 <= size ? 1 : 0), what + ": result " + std::to_string(rc));
  std::string want = src.s.substr(0, size - 1);
  want.resize(size, '\0');  // padded with NUL to the end, like strncpy
  FUZZ_CHECK(std::string(dst.get(), size) == want, what + ": content");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider fdp(data, size);
  tag_ZOLK2_SYSLOG rec{};
  std::memcpy(rec.magic, "ZOLK", 5);
  rec.logMask = 0xFF;
  Zolk_Log::CloseLog(&rec);
  Expected e;

  for (int i = 0; i < 16 && fdp.remaining_bytes() > 0; ++i) {
    const int importance = fdp.ConsumeIntegralInRange(-2, 9);
    switch (fdp.ConsumeIntegralInRange(0, 7)) {
      case 0:
        checkCopy(fdp);
        continue;
      case 1: {
        const int modes[] = {-1, 0, 1, 2, 3, 4, 5, 7, 8, 16};
        const int mode = fdp.ConsumeBool() ? fdp.PickValueInArray(modes) : fdp.ConsumeIntegral<int>();
        const Text prefix = consumeText(fdp, 10), suffix = consumeText(fdp, 10);
        const tag_ZOLK2_SYSLOG before = rec;
        const bool refused = (!prefix.null && prefix.s.size() > 7) ||
                             (!suffix.null && suffix.s.size() > 7) || tidFormat(mode) == nullptr;
        const int rc = Zolk_Log::SetTidFormat(&rec, mode, prefix.get(), suffix.get());
        FUZZ_CHECK(rc == (refused ? 1 : 0), "SetTidFormat mode " + std::to_string(mode));
        if (refused) {
          FUZZ_CHECK(std::memcmp(&before, &rec, sizeof rec) == 0, "a refused format changed the record");
        } else {
          e.format = tidFormat(mode);
          e.prefix = prefix.null ? "[" : prefix.s;
          e.suffix = suffix.null ? "] " : suffix.s;
          e.connectionValid = false;
        }
        break;
      }
      case 2: {
        const int mode = fdp.ConsumeIntegralInRange(-1, 17);
        const char* got = Zolk_Log::GetTidFormat(mode);
        const char* want = tidFormat(mode);
        FUZZ_CHECK(want == nullptr ? got == nullptr : got != nullptr && std::strcmp(got, want) == 0,
                   "GetTidFormat " + std::to_string(mode));
        break;
      }
      case 3: {
        const Text ident = consumeText(fdp, 24);
        e.option = fdp.ConsumeIntegral<int>();
        e.facility = fdp.ConsumeIntegral<int>();
        Zolk_Log::OpenLog(&rec, ident.get(), e.option, e.facility);
        e.ident = ident.s.substr(0, 16);
        e.connectionValid = false;
        break;
      }
      case 4:
        Zolk_Log::CloseLog(&rec);
        e = Expected();
        break;
      default: {
        const int kind = fdp.ConsumeIntegralInRange(0, 2);
        const Text t1 = consumeText(fdp, 64), t2 = consumeText(fdp, 64);
        const int opensBefore = Syslog().opens;
        Assembly a;
        if (kind == 0) {
          char tid[68];
          std::snprintf(tid, sizeof tid, e.format.c_str(), static_cast<unsigned long>(::gettid()));
          Text tidText, prefix, suffix;
          tidText.s = tid;
          prefix.s = e.prefix;
          suffix.s = e.suffix;
          if (a.append(t1) && a.append(prefix) && a.append(tidText) && a.append(suffix)) a.append(t2);
          Zolk_Log::PutToLogWithTid(&rec, importance, t1.get(), t2.get());
        } else if (kind == 1) {
          Text blank;
          blank.s = " ";
          if (a.append(t1) && (t1.null || t2.s.empty() || a.append(blank))) a.append(t2);
          Zolk_Log::PutToLogWithoutTid(&rec, importance, t1.get(), t2.get());
        } else {
          a.text = t1.s;  // a single text goes out whole
          Zolk_Log::PutToLog(&rec, importance, t1.get());
        }
        const SyslogState& s = Syslog();
        FUZZ_CHECK(s.message == a.text, "message\n" + Printable(s.message) + "\nexpected\n" +
                                            Printable(a.text));
        FUZZ_CHECK(s.priority == (importance >= 0 && importance <= 6 ? importance : 3), "priority");
        // The connection is set up again after a settings change, and only then.
        if (e.connectionValid) {
          FUZZ_CHECK(s.opens == opensBefore, "openlog again with nothing changed");
        } else {
          FUZZ_CHECK(s.opens == opensBefore + 1 && s.ident == e.ident && s.option == e.option &&
                         s.facility == e.facility,
                     "connection not set up for the record's settings");
        }
        e.connectionValid = true;
        break;
      }
    }
    checkRecord(rec, e);
  }
  return 0;
}
