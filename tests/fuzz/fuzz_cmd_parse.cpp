// The interpreter's grammar takes any line without crashing; nothing is run.
#include <cstddef>
#include <cstdint>
#include <string>

#include "port/posix/cmd/parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string line(reinterpret_cast<const char*>(data), size);
  line = line.c_str();
  port::posix::cmd::Pipeline pipeline;
  (void)port::posix::cmd::parse_line(line, &pipeline);
  return 0;
}
