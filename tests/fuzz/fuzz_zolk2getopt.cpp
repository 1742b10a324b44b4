// zolk2getopt over arbitrary argument vectors, call by call against the
// reference model: the same letter, the same position in the vector and in
// the cluster, the same value; and the parse ends within one call per
// letter and element.
//
// Input: one byte choosing the option string (the setter's, the getter's,
// or one taken from the input up to a NUL), then the elements, separated
// by NUL bytes.
#include <cstdint>
#include <string>
#include <vector>

#include "ConfFuzz.h"
#include "FuzzCommon.h"
#include "zolkgetopt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string optstring;
  switch (data[0] % 3) {
    case 0: optstring = "f:b:n:s:w:i:m:l:h"; break;
    case 1: optstring = "fbnswiml:h"; break;
    default: {
      const size_t nul = rest.find('\0');
      optstring = rest.substr(0, nul);
      rest = nul == std::string::npos ? "" : rest.substr(nul + 1);
    }
  }

  std::vector<std::string> elements{"prog"};
  for (size_t at = 0;; ) {
    const size_t nul = rest.find('\0', at);
    elements.push_back(rest.substr(at, nul - at));
    if (nul == std::string::npos || elements.size() > 64) break;
    at = nul + 1;
  }
  std::vector<char*> argv;
  size_t letters = 0;
  for (std::string& e : elements) {
    argv.push_back(&e[0]);
    letters += e.size() + 1;
  }
  argv.push_back(nullptr);
  const int argc = static_cast<int>(elements.size());

  zolkfuzz::GetoptModel model;
  optind = 1;
  optletterind = 0;
  optarg = nullptr;
  for (size_t calls = 0;; ++calls) {
    FUZZ_CHECK(calls <= letters, "the parse does not end");
    const int want = model.Next(argc, argv.data(), optstring.c_str());
    const int got = zolk2getopt(argc, argv.data(), optstring.c_str());
    const std::string where = "call " + std::to_string(calls) + ", optstring '" +
                              zolkfuzz::Printable(optstring) + "'";
    FUZZ_CHECK(got == want, where + ": returned " + std::to_string(got) + ", expected " +
                                std::to_string(want));
    FUZZ_CHECK(optind == model.optind && optletterind == model.letterind,
               where + ": optind/optletterind " + std::to_string(optind) + "/" +
                   std::to_string(optletterind) + ", expected " + std::to_string(model.optind) +
                   "/" + std::to_string(model.letterind));
    if (got == -1) break;
    if (model.tookValue) {
      // A value is the rest of the element, the next element, or empty.
      FUZZ_CHECK(optarg != nullptr && (optarg == model.optarg ||
                                       (*model.optarg == '\0' && *optarg == '\0')),
                 where + ": wrong value for -" + std::string(1, static_cast<char>(got)));
    }
  }
  return 0;
}
