// Splitting arbitrary command lines must never crash or read past the text,
// and every word it yields comes from the line's own bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "port/posix/cmdline.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string line(reinterpret_cast<const char*>(data), size);
  line = line.c_str();  // the splitter takes a zero-terminated string
  auto words = port::posix::split_command_line(line.c_str());
  size_t total = 0;
  for (const auto& w : words) total += w.size();
  if (total > line.size()) __builtin_trap();
  port::posix::ParsedCommand parsed;
  if (port::posix::parse_command_line(line.c_str(), &parsed) && parsed.argv.empty()) __builtin_trap();
  return 0;
}
