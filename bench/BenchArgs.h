#pragma once

#include <cstddef>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

namespace qav::bench {

// The command line of a benchmark: positive whole numbers in order, options that take one
// ("--rounds 5") and options that take a text ("--baseline PATH"). "--help" or "-h" prints the
// usage to standard output and ends the program with 0; an argument it cannot read (no whole
// number, zero or less, an unknown option, one number too many) prints what is wrong and the usage
// to standard error and ends it with 2.
class BenchArgs {
 public:
  // `options` take a number; `flags` stand alone.
  BenchArgs(int argc, char** argv, const char* usage, std::size_t maxNumbers,
            std::initializer_list<const char*> options = {},
            std::initializer_list<const char*> flags = {},
            std::initializer_list<const char*> textOptions = {});

  const std::vector<long>& Numbers() const { return numbers_; }
  long Number(std::size_t index, long fallback) const {
    return index < numbers_.size() ? numbers_[index] : fallback;
  }
  bool Flag(const std::string& name) const { return options_.count(name) > 0; }
  long Option(const std::string& name, long fallback) const {
    const auto it = options_.find(name);
    return it == options_.end() ? fallback : it->second;
  }
  // The text given to an option of `textOptions`; empty when not given.
  std::string Text(const std::string& name) const {
    const auto it = texts_.find(name);
    return it == texts_.end() ? std::string() : it->second;
  }

 private:
  std::vector<long> numbers_;
  std::map<std::string, long> options_;
  std::map<std::string, std::string> texts_;
};

}  // namespace qav::bench
