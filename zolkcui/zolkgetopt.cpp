#include "zolkgetopt.h"

#include "zolkcuicmnfunc.h"

int optind = 0;
int optletterind = 0;
char *optarg = nullptr;
int optopt = 0;

namespace {

// optarg must be writable-typed; a missing value points here.
char ms_emptyValue[1] = {'\0'};

// Moves to the next letter of the current cluster, or to the next element.
void advance(bool moreLetters) {
  if (moreLetters) {
    ++optletterind;
  } else {
    ++optind;
    optletterind = 0;
  }
}

}  // namespace

extern "C" int zolk2getopt(int argc, char *const argv[], const char *optstring) {
  if (argv == nullptr || optstring == nullptr || optind < 0 || optind >= argc ||
      argv[optind] == nullptr) {
    return -1;
  }
  const char *element = argv[optind];
  if (element[0] != '-') {
    ++optind;
    optletterind = 0;
    return '?';
  }

  const char *letter = element + 1 + optletterind;
  // A lone "-" has no letter at all; never look past its terminator.
  const bool moreLetters = letter[0] != '\0' && letter[1] != '\0';
  // ':' only marks options with values; it is never a letter itself.
  const char *found = letter[0] == ':' ? nullptr : searchCharacter(optstring, letter[0]);
  if (found == nullptr) {
    optopt = static_cast<unsigned char>(letter[0]);
    advance(moreLetters);
    return '?';
  }

  advance(moreLetters);
  if (found[1] != ':') return static_cast<unsigned char>(letter[0]);

  if (moreLetters) {
    // -fvalue: the rest of the element is the value; advance() stayed on it.
    optarg = const_cast<char *>(letter + 1);
  } else if (optind < argc && argv[optind] != nullptr) {
    optarg = argv[optind];
  } else {
    optarg = ms_emptyValue;
  }
  ++optind;
  optletterind = 0;
  return static_cast<unsigned char>(letter[0]);
}
