// Splitting arbitrary command lines must never crash or read past the text,
// and every word it yields comes from the line's own bytes. A path that the
// quoting routine puts into a line comes back out of it as one word, itself.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "admin/common/command_line.h"
#include "port/posix/cmdline.h"

namespace {

// The word, as quote (quote_path or quote_argument) writes it, between two
// other words: splitting the line gives the three back, or quoting refused.
void quoted_word_comes_back(const std::string& word, int (*quote)(const char*, char*, std::size_t)) {
  std::vector<char> out(word.size() * 2 + 3);
  const int result = quote(word.c_str(), out.data(), out.size());
  if (result == kLineTooLong) __builtin_trap();  // twice the size and the quotes always fit
  if (result != 0) return;
  const std::string line = std::string("prog ") + out.data() + " next";
  if (port::posix::split_command_line(line.c_str()) != std::vector<std::string>{"prog", word, "next"}) {
    __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string line(reinterpret_cast<const char*>(data), size);
  line = line.c_str();  // the splitter takes a zero-terminated string
  auto words = port::posix::split_command_line(line.c_str());
  size_t total = 0;
  for (const auto& w : words) total += w.size();
  if (total > line.size()) __builtin_trap();
  port::posix::ParsedCommand parsed;
  if (port::posix::parse_command_line(line.c_str(), &parsed) && parsed.argv.empty()) __builtin_trap();

  quoted_word_comes_back(line, &quote_path);
  quoted_word_comes_back(line, &quote_argument);
  return 0;
}
