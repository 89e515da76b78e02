// The catalogue reader takes any file without crashing, reading past a line
// or writing past the text.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "admin/common/catalogue_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "r");
  if (file == nullptr) return 0;
  static char text[kMsgTextSize];
  port::TextReader reader(file);
  if (read_catalogue_entry(reader, "LXC_MSG_001", text) && std::strlen(text) >= kMsgTextSize) __builtin_trap();
  std::fclose(file);
  return 0;
}
