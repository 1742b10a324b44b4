// zolk_tracewriter: writes a trace file set for tests and demonstrations,
// from the lines of standard input or generated numbered lines.
#include <getopt.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

#include "tracewriter/TraceWriter.h"

namespace {

const char kUsage[] =
    "usage: zolk_tracewriter -d DIR -p PREFIX [options]\n"
    "Appends lines with CR LF to the trace files DIR/PREFIXn.log in rotation and keeps\n"
    "the management record DIR/mmap/PREFIX.mm up to date. Lines come from standard\n"
    "input unless -g is given.\n"
    "  -d DIR     directory of the trace files (must exist)\n"
    "  -p PREFIX  common prefix of the file names\n"
    "  -s SIZE    size of each trace file, 4096 to 16777216 (default 65536)\n"
    "  -n COUNT   number of trace files, 1 to 64 (default 4)\n"
    "  -o ORDER   byte order of the record: little or big (default: this host's)\n"
    "  -B         write no byte order mark\n"
    "  -E         do not pre-extend trace files to SIZE\n"
    "  -m         put the mark FE FF before the end-of-data byte\n"
    "  -f FLAGS   flags word of the record (default 0; 0x10: readers take no lock)\n"
    "  -t TYPE    lock type word of the record (default 1)\n"
    "  -g LINES   write LINES generated numbered lines instead of reading input\n"
    "  -l LENGTH  length of a generated line without CR LF (default 60)\n"
    "  -i USEC    pause after each line, in microseconds\n"
    "  -r         at the end, leave the file being written (end it and move on)\n"
    "  -u         replace a trace file when entering it again: unlink it and create a\n"
    "             new one (pre-extended unless -E) instead of overwriting it in place\n"
    "  -R LINES   start the set again from scratch every LINES lines, as a restarted\n"
    "             writer does: file 1 at offset 0, each file emptied when first entered\n";

bool ParseNumber(const char* text, unsigned long long max, unsigned long long* value) {
  if (text == nullptr || *text == '\0' || *text == '-') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text, &end, 0);
  if (errno != 0 || *end != '\0' || v > max) return false;
  *value = v;
  return true;
}

int Usage(const std::string& problem) {
  std::cerr << "zolk_tracewriter: " << problem << "\n" << kUsage;
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  zolksupport::TraceWriterOptions options;
  unsigned long long generate = 0, length = 60, pauseUs = 0, restartEvery = 0, v = 0;
  bool generated = false, leaveAtEnd = false;
  int opt;
  while ((opt = ::getopt(argc, argv, "d:p:s:n:o:BEmf:t:g:l:i:ruR:h")) != -1) {
    switch (opt) {
      case 'd': options.directory = optarg; break;
      case 'p': options.prefix = optarg; break;
      case 's':
        if (!ParseNumber(optarg, UINT32_MAX, &v)) return Usage("bad file size: " + std::string(optarg));
        options.fileSize = static_cast<uint32_t>(v);
        break;
      case 'n':
        if (!ParseNumber(optarg, UINT32_MAX, &v)) return Usage("bad file count: " + std::string(optarg));
        options.fileCount = static_cast<uint32_t>(v);
        break;
      case 'o':
        if (std::strcmp(optarg, "little") == 0) {
          options.byteOrder = zolksupport::ByteOrder::Little;
        } else if (std::strcmp(optarg, "big") == 0) {
          options.byteOrder = zolksupport::ByteOrder::Big;
        } else {
          return Usage("byte order must be little or big: " + std::string(optarg));
        }
        break;
      case 'B': options.byteOrderMark = false; break;
      case 'E': options.preExtend = false; break;
      case 'm': options.endMarkPair = true; break;
      case 'f':
        if (!ParseNumber(optarg, UINT32_MAX, &v)) return Usage("bad flags: " + std::string(optarg));
        options.flags = static_cast<uint32_t>(v);
        break;
      case 't':
        if (!ParseNumber(optarg, UINT32_MAX, &v)) return Usage("bad lock type: " + std::string(optarg));
        options.lockType = static_cast<uint32_t>(v);
        break;
      case 'g':
        if (!ParseNumber(optarg, UINT64_MAX, &generate)) return Usage("bad line count: " + std::string(optarg));
        generated = true;
        break;
      case 'l':
        if (!ParseNumber(optarg, 16777216, &length)) return Usage("bad line length: " + std::string(optarg));
        break;
      case 'i':
        if (!ParseNumber(optarg, 10000000, &pauseUs)) return Usage("bad pause: " + std::string(optarg));
        break;
      case 'r': leaveAtEnd = true; break;
      case 'u': options.replaceFiles = true; break;
      case 'R':
        if (!ParseNumber(optarg, UINT64_MAX, &restartEvery) || restartEvery == 0)
          return Usage("bad restart interval: " + std::string(optarg));
        break;
      case 'h': std::cout << kUsage; return 0;
      default: return Usage("unknown option");
    }
  }
  if (optind != argc) return Usage("unexpected argument: " + std::string(argv[optind]));
  if (options.directory.empty() || options.prefix.empty()) return Usage("-d and -p are required");

  std::unique_ptr<zolksupport::TraceWriter> writer;
  auto create = [&]() {
    writer.reset();  // the old writer's descriptors are closed before the set starts again
    if (int rc = zolksupport::TraceWriter::Create(options, &writer); rc != 0) {
      std::cerr << "zolk_tracewriter: cannot create the trace set in " << options.directory
                << ": " << std::strerror(rc) << "\n";
      return false;
    }
    return true;
  };
  if (!create()) return 2;

  unsigned long long written = 0, restarts = 0;
  auto put = [&](const std::string& line) {
    if (restartEvery > 0 && written > 0 && written % restartEvery == 0) {
      if (!create()) return false;
      ++restarts;
    }
    if (int rc = writer->WriteLine(line); rc != 0) {
      std::cerr << "zolk_tracewriter: cannot write line " << written + 1 << ": "
                << (rc == EINVAL ? "it holds CR, LF or 0x1A" : std::strerror(rc)) << "\n";
      return false;
    }
    ++written;
    if (pauseUs > 0) ::usleep(static_cast<useconds_t>(pauseUs));
    return true;
  };
  if (generated) {
    for (unsigned long long n = 1; n <= generate; ++n) {
      if (!put(zolksupport::NumberedLine(n, length))) return 2;
    }
  } else {
    std::string line;
    while (std::getline(std::cin, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!put(line)) return 2;
    }
  }
  if (leaveAtEnd) {
    if (int rc = writer->Rotate(); rc != 0) {
      std::cerr << "zolk_tracewriter: cannot leave file " << writer->fileNumber() << ": "
                << std::strerror(rc) << "\n";
      return 2;
    }
  }
  std::cout << "wrote " << written << " lines; writing file " << writer->fileNumber()
            << " at offset " << writer->writeOffset();
  if (restartEvery > 0) std::cout << "; restarted " << restarts << " times";
  std::cout << "\n";
  return 0;
}
