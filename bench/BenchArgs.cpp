#include "bench/BenchArgs.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace qav::bench {

namespace {

[[noreturn]] void Refuse(const char* usage, const std::string& why) {
  std::fprintf(stderr, "%s\nusage: %s\n", why.c_str(), usage);
  std::exit(2);
}

bool ReadPositive(const char* text, long& out) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || errno == ERANGE || v <= 0) return false;
  out = v;
  return true;
}

}  // namespace

BenchArgs::BenchArgs(int argc, char** argv, const char* usage, std::size_t maxNumbers,
                     std::initializer_list<const char*> options,
                     std::initializer_list<const char*> flags,
                     std::initializer_list<const char*> textOptions) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::printf("usage: %s\n", usage);
      std::exit(0);
    }
    long value = 0;
    if (arg.rfind("-", 0) == 0) {
      bool flag = false;
      for (const char* f : flags) flag = flag || arg == f;
      if (flag) {
        options_[arg] = 1;
        continue;
      }
      bool text = false;
      for (const char* t : textOptions) text = text || arg == t;
      if (text) {
        if (i + 1 >= argc) Refuse(usage, arg + " needs a value");
        texts_[arg] = argv[++i];
        continue;
      }
      bool known = false;
      for (const char* o : options) known = known || arg == o;
      if (!known) Refuse(usage, "unknown option " + arg);
      if (i + 1 >= argc) Refuse(usage, arg + " needs a number");
      if (!ReadPositive(argv[++i], value))
        Refuse(usage, arg + " needs a positive whole number, not \"" + argv[i] + "\"");
      options_[arg] = value;
      continue;
    }
    if (!ReadPositive(argv[i], value))
      Refuse(usage, "not a positive whole number: \"" + arg + "\"");
    if (numbers_.size() >= maxNumbers) Refuse(usage, "too many arguments: \"" + arg + "\"");
    numbers_.push_back(value);
  }
}

}  // namespace qav::bench
