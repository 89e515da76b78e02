// The registry-file reader takes any bytes without crashing or reading past them.
#include <cstddef>
#include <cstdint>
#include <string>

#include "port/posix/registry_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  (void)port::posix::parse_registry_text(text);
  return 0;
}
