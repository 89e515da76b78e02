// The interpreter's grammar takes any line without crashing; nothing is run.
// The quote rule after /C, the variable expansion and the parser all see the
// input; every name is defined (as its reversed self), so expansion can grow
// the line, and a name counts as a program when it holds an "x".
#include <cstddef>
#include <cstdint>
#include <string>

#include "port/posix/cmd/parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string line(reinterpret_cast<const char*>(data), size);
  line = line.c_str();
  line = port::posix::cmd::strip_outer_quotes(
      line, [](const std::string& word) { return word.find('x') != std::string::npos; });
  const port::posix::cmd::Lookup lookup = [](const std::string& name, std::string* value) {
    value->assign(name.rbegin(), name.rend());
    return name.size() % 3 != 0;
  };
  port::posix::cmd::Line parsed;
  if (port::posix::cmd::parse_line(line, lookup, &parsed) == 0 && parsed.steps.empty()) {
    __builtin_trap();  // a parsed line always has something to run
  }
  // The built-ins' names come from the command's own bytes.
  for (const auto& step : parsed.steps) {
    for (const auto& command : step.pipeline.commands) {
      std::size_t total = 0;
      for (const auto& word : port::posix::cmd::split_builtin_words(command.text)) total += word.text.size();
      if (total > command.text.size()) __builtin_trap();
    }
  }
  return 0;
}
