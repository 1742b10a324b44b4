// Reference models shared by the fuzz targets of the configuration
// commands: the option parser and the line rules of the configuration file,
// written from their documented rules and kept deliberately plain, and the
// layout of a command input.
//
// A command input is its argument vector, each element ended by a NUL byte
// and the vector ended by an empty element, followed by the bytes of the
// configuration file.
#ifndef ZOLK_TESTS_FUZZ_CONFFUZZ_H
#define ZOLK_TESTS_FUZZ_CONFFUZZ_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace zolkfuzz {

// The option parser: the next letter, '?' or -1, with the state it leaves.
struct GetoptModel {
  int optind = 1;
  int letterind = 0;
  const char* optarg = nullptr;
  bool tookValue = false;  // the last letter returned took a value

  int Next(int argc, char* const argv[], const char* optstring) {
    tookValue = false;
    if (optind >= argc || argv[optind] == nullptr) return -1;
    const char* element = argv[optind];
    if (element[0] != '-') {
      ++optind;
      letterind = 0;
      return '?';
    }
    const int at = 1 + letterind;
    const char c = element[at];
    const bool more = c != '\0' && element[at + 1] != '\0';
    // ':' marks values and is no letter; the terminator is never one either.
    const char* found = c == '\0' || c == ':' ? nullptr : std::strchr(optstring, c);
    if (more) {
      ++letterind;
    } else {
      ++optind;
      letterind = 0;
    }
    if (found == nullptr) return '?';
    if (found[1] != ':') return static_cast<unsigned char>(c);
    if (more) {
      optarg = element + at + 1;
    } else {
      optarg = optind < argc && argv[optind] != nullptr ? argv[optind] : "";
    }
    ++optind;
    letterind = 0;
    tookValue = true;
    return static_cast<unsigned char>(c);
  }
};

inline const char* const kKeyNames[] = {"LogFile",  "LogSize",     "LogFNum",  "MapSize",
                                        "WatchDog", "IntervalSec", "MaxMsgNum"};
constexpr int kKeyCount = 7;
constexpr size_t kChunkMax = 1040;

// The file as the commands take it: pieces up to and including a newline,
// at most kChunkMax bytes each.
inline std::vector<std::string> Chunks(const std::string& file) {
  std::vector<std::string> chunks;
  for (size_t at = 0; at < file.size();) {
    size_t end = at;
    while (end < file.size() && end - at < kChunkMax && (end == at || file[end - 1] != '\n')) ++end;
    chunks.push_back(file.substr(at, end - at));
    at = end;
  }
  return chunks;
}

// Key of a chunk (0..6), or -1: the characters before the first '=' less
// blanks and tabs, at most 15. A NUL byte ends the line as text.
inline int ChunkKey(const std::string& chunk) {
  const std::string text(chunk.c_str());
  const size_t eq = text.find('=');
  if (eq == std::string::npos) return -1;
  std::string key;
  for (size_t i = 0; i < eq; ++i) {
    if (text[i] != ' ' && text[i] != '\t') key += text[i];
  }
  if (key.size() > 15) return -1;
  for (int k = 0; k < kKeyCount; ++k) {
    if (key == kKeyNames[k]) return k;
  }
  return -1;
}

inline bool IsConfSpace(char c) { return c != '\0' && std::strchr(" \t\r\n\v\f", c) != nullptr; }

// Value of a key chunk: the first word after the first '='; empty if none.
inline std::string ChunkValue(const std::string& chunk) {
  const std::string text(chunk.c_str());
  size_t at = text.find('=');
  if (at == std::string::npos) return "";
  for (++at; at < text.size() && IsConfSpace(text[at]); ++at) {
  }
  size_t end = at;
  while (end < text.size() && !IsConfSpace(text[end])) ++end;
  return text.substr(at, end - at);
}

inline bool AllDigits(const std::string& s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

// A command input taken apart: arguments (program name first) and file.
struct CommandInput {
  std::vector<std::string> args;
  std::string file;
};

inline CommandInput SplitCommandInput(const uint8_t* data, size_t size, const char* program) {
  CommandInput in;
  in.args.emplace_back(program);
  const char* p = reinterpret_cast<const char*>(data);
  const char* const end = p + size;
  while (p < end) {
    const char* nul = static_cast<const char*>(std::memchr(p, '\0', static_cast<size_t>(end - p)));
    if (nul == nullptr || nul == p) {
      if (nul == p) ++p;  // the empty element that ends the vector
      break;
    }
    in.args.emplace_back(p, nul);
    p = nul + 1;
  }
  in.file.assign(p, end);
  return in;
}

// Parses args with the model and runs fn(letter, value) for each result
// until -1 or, when stopAtHelp, an 'h'. Returns whether 'h' was seen.
template <typename F>
bool ParseArgs(std::vector<std::string>* args, const char* optstring, F&& fn) {
  std::vector<char*> argv;
  for (std::string& a : *args) argv.push_back(&a[0]);
  GetoptModel model;
  int c;
  while ((c = model.Next(static_cast<int>(argv.size()), argv.data(), optstring)) != -1) {
    if (c == 'h') return true;
    fn(c, const_cast<char*>(model.optarg));
  }
  return false;
}

// Execution log names are kept inside the scratch directory: a '/' in any
// value of -l becomes '_'. That changes no option: '/' and '_' are both
// outside every option string.
inline void ConfineLogNames(std::vector<std::string>* args, const char* optstring) {
  ParseArgs(args, optstring, [](int c, char* value) {
    if (c != 'l') return;
    for (char* p = value; *p != '\0'; ++p) {
      if (*p == '/') *p = '_';
    }
  });
}

}  // namespace zolkfuzz

#endif
