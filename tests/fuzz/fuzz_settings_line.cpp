// The settings splitter takes any line and never writes past the buffers it is given.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "admin/common/settings_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string line(reinterpret_cast<const char*>(data), size);
  line = line.c_str();
  // Small buffers, so that both the fitting and the refused cases are reached.
  char name[8];
  char value[16];
  const int result = GetAttrVal(line.c_str(), name, sizeof name, value, sizeof value);
  if (result == 0 && (std::strchr(name, '=') != nullptr || value[0] == '\0' || name[0] == '\0')) __builtin_trap();
  return 0;
}
