// zolk2tail: prints the lines of a trace set and follows its writer through
// the rotation, the way tail -F follows a log.
#include <getopt.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Follower.h"

namespace {

const char kUsage[] =
    "usage: zolk2tail [-a] [-n LINES] [-x] [-i MSEC] [-r] [-c FILE] TRACEFILE\n"
    "Prints the lines of the trace set that TRACEFILE (DIR/PREFIXn.log) belongs to and\n"
    "follows its writer from file to file.\n"
    "  -a                      start at the beginning of TRACEFILE and print everything "
    "from there on\n"
    "  -n LINES                start with the last LINES lines of the file being written "
    "(default 10)\n"
    "  -x                      stop at the current end instead of following\n"
    "  -i MSEC                 poll interval in milliseconds, 1 to 3600000 (default 200)\n"
    "  -r                      print the bytes as read (lines keep their CR LF)\n"
    "  -c, --cursor-file FILE  continue where the run that saved FILE stopped, "
    "and keep FILE up to date\n"
    "  -h, --help              print this help and exit\n"
    "      --version           print the version and exit\n";

volatile sig_atomic_t ms_stops = 0;

extern "C" void onStop(int) { ms_stops = ms_stops + 1; }

// The data is copied with pread(2), which a shrinking file only cuts short;
// but the reader library still maps the file being written to tell where
// its data ends, and a writer that shrinks it makes a read of that mapping
// fault: say so instead of dying silently. Only async-signal-safe calls.
extern "C" void onBusError(int) {
  const char* const file = zolktail::fileBeingRead();
  const char head[] = "zolk2tail: ";
  const char tail[] = ": the file shrank while it was being read\n";
  ssize_t ignored = ::write(2, head, sizeof head - 1);
  ignored = ::write(2, file, std::strlen(file));
  ignored = ::write(2, tail, sizeof tail - 1);
  (void)ignored;
  ::_exit(2);
}

// The long options have values of their own, above any character, so that
// getopt_long's ::optopt tells a faulty long option from a short one.
enum LongOption { kHelp = 0x100, kVersion, kCursorFile };

const struct option kLongOptions[] = {
    {"help", no_argument, nullptr, kHelp},
    {"version", no_argument, nullptr, kVersion},
    {"cursor-file", required_argument, nullptr, kCursorFile},
    {nullptr, 0, nullptr, 0},
};

// How the user wrote the option ::optopt stands for: "-n" or "--cursor-file".
std::string optionName(int opt) {
  for (const struct option* o = kLongOptions; o->name != nullptr; ++o)
    if (o->val == opt) return std::string("--") + o->name;
  return std::string("-") + static_cast<char>(opt);
}

int usage(const std::string& problem) {
  std::fprintf(stderr, "zolk2tail: %s\nTry 'zolk2tail --help' for more information.\n",
               problem.c_str());
  return 1;
}

bool parseNumber(const char* text, unsigned long long min, unsigned long long max,
                 unsigned long long* value) {
  if (*text < '0' || *text > '9') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0' || v < min || v > max) return false;
  *value = v;
  return true;
}

void handle(int signal, void (*handler)(int)) {
  struct sigaction action = {};
  action.sa_handler = handler;
  ::sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocked write or a pause must end
  ::sigaction(signal, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  zolktail::FollowOptions options;
  bool linesGiven = false;
  unsigned long long value = 0;
  ::opterr = 0;
  int opt;
  while ((opt = ::getopt_long(argc, argv, ":an:xi:rc:h", kLongOptions, nullptr)) != -1) {
    switch (opt) {
      case 'a':
        options.fromStart = true;
        break;
      case 'n':
        if (!parseNumber(optarg, 0, UINT64_MAX, &value))
          return usage("-n: not a number of lines: " + std::string(optarg));
        options.lines = value;
        linesGiven = true;
        break;
      case 'x':
        options.stopAtEnd = true;
        break;
      case 'i':
        if (!parseNumber(optarg, 1, 3600000, &value))
          return usage("-i: not a poll interval of 1 to 3600000 milliseconds: " +
                       std::string(optarg));
        options.intervalMs = static_cast<unsigned>(value);
        break;
      case 'r':
        options.raw = true;
        break;
      case 'c':
      case kCursorFile:
        if (*optarg == '\0') return usage("-c: empty cursor file name");
        options.cursorFile = optarg;
        break;
      case 'h':
      case kHelp:
        std::fputs(kUsage, stdout);
        return 0;
      case kVersion:
        std::printf("zolk2tail (%s) %s\n", ZOLK_PACKAGE_NAME, ZOLK_PACKAGE_VERSION);
        return 0;
      case ':':
        return usage("option " + optionName(::optopt) + " needs a value");
      default:
        if (::optopt >= kHelp) return usage("option " + optionName(::optopt) + " takes no value");
        if (::optopt == 0) {  // an unknown long option, the last argument looked at
          const std::string given = argv[::optind - 1];
          return usage("unknown option " + given.substr(0, given.find('=')));
        }
        return usage("unknown option " + optionName(::optopt));
    }
  }
  if (options.fromStart && linesGiven) return usage("-a and -n exclude each other");
  if (::optind == argc) return usage("no TRACEFILE given");
  if (::optind + 1 < argc) return usage("one TRACEFILE only: " + std::string(argv[::optind + 1]));

  handle(SIGINT, onStop);
  handle(SIGTERM, onStop);
  handle(SIGBUS, onBusError);
  ::signal(SIGPIPE, SIG_IGN);  // a closed pipe is seen as EPIPE and ends the run quietly
  return zolktail::follow(argv[::optind], options, &ms_stops);
}
