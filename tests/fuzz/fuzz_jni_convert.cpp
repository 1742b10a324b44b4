// The conversions of the Java natives' option, facility and priority values
// (they need no virtual machine), against their documented tables, and then
// through the library the way the natives use them: a converted option with
// a reserved bit is refused by ZOLK2_OpenSysLogInstance, any other opens the
// instance, and the next message reaches syslog with the converted options,
// facility and priority.
#include <cstdint>
#include <string>

#include "FuzzCommon.h"
#include "SyslogCapture.h"
#include "ZolkJni.h"
#include "zolk2sys.h"

namespace {

using namespace zolkfuzz;

// An int that is mostly made of the bits the conversions look at.
int consumeJavaValue(FuzzedDataProvider& fdp) {
  const int masks[] = {0x1F, 0x1001F, 0xFF001F, 0x1FF, -1};
  const int mask = fdp.PickValueInArray(masks);
  return fdp.ConsumeIntegral<int>() & mask;
}

int opts(int v) {
  int out = 0;
  for (const int bit : {0x01, 0x02, 0x08, 0x10}) {
    if (v & bit) out |= bit;
  }
  return out;
}

int opts2(int v) {
  if (v & 0x00FE0000) return static_cast<int>(0xFFFEFFFFu);
  return opts(v) | (v & 0x10000);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider fdp(data, size);
  const int option = consumeJavaValue(fdp);
  const int facility = fdp.ConsumeBool() ? 40 : fdp.ConsumeIntegral<int>();
  const int priority = fdp.ConsumeIntegralInRange(-3, 10);
  const std::string what = "option " + std::to_string(option) + ", facility " +
                           std::to_string(facility) + ", priority " + std::to_string(priority);

  FUZZ_CHECK(ZOLK_ConvertOpts(option) == opts(option), what);
  FUZZ_CHECK(ZOLK_ConvertOpts2(option) == opts2(option), what);
  FUZZ_CHECK(ZOLK_ConvertFacility(facility) == (facility == 40 ? 48 : facility), what);
  FUZZ_CHECK(ZOLK_ConvertPriority(priority) == (priority >= 0 && priority <= 6 ? priority : 0), what);
  // A converted value is a library value: converting it again keeps it.
  FUZZ_CHECK(ZOLK_ConvertOpts(ZOLK_ConvertOpts(option)) == ZOLK_ConvertOpts(option), what);
  FUZZ_CHECK(ZOLK_ConvertOpts2(ZOLK_ConvertOpts2(option)) == ZOLK_ConvertOpts2(option), what);
  FUZZ_CHECK(ZOLK_ConvertPriority(ZOLK_ConvertPriority(priority)) == ZOLK_ConvertPriority(priority), what);

  ZOLK2_SYSLOG* inst = nullptr;
  FUZZ_CHECK(ZOLK2_CreateSysLogInstance(&inst) == 0 && inst != nullptr, "no instance");
  const int libOption = ZOLK_ConvertOpts2(option);
  const int libFacility = ZOLK_ConvertFacility(facility);
  const int rc = ZOLK2_OpenSysLogInstance(inst, "fuzz", libOption, libFacility);
  FUZZ_CHECK(rc == ((option & ZOLK2_SYSLOG_OPT_RESERVED) != 0 ? ZOLK2_SYSLOG_INVALID : 0),
             what + ": open gave " + std::to_string(rc));
  if (rc == 0) {
    const int writes = Syslog().writes;
    FUZZ_CHECK(ZOLK2_PutToSysLogInstance(inst, ZOLK_ConvertPriority(priority), "a", "b") == 0, what);
    const SyslogState& s = Syslog();
    FUZZ_CHECK(s.writes == writes + 1 && s.ident == "fuzz", what + ": not written");
    FUZZ_CHECK(s.option == (libOption & ~ZOLK2_SYSLOG_OPT_WITH_TID) && s.facility == libFacility,
               what + ": connection options " + std::to_string(s.option));
    FUZZ_CHECK(s.priority == ZOLK_ConvertPriority(priority), what + ": priority");
    const bool withTid = (libOption & ZOLK2_SYSLOG_OPT_WITH_TID) != 0;
    FUZZ_CHECK(withTid ? s.message.size() == 13 && s.message[1] == '[' : s.message == "a b",
               what + ": message " + s.message);
  }
  FUZZ_CHECK(ZOLK2_DeleteSysLogInstance(inst) == 0, "delete");
  return 0;
}
