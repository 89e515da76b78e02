// The registry-file reader takes any bytes without crashing or reading past
// them, a UTF-16 export (bytes after the byte order mark) included.
#include <cstddef>
#include <cstdint>
#include <string>

#include "port/posix/registry_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  (void)port::posix::parse_registry_text(text);
  // The same bytes as UTF-16 text: whatever decodes is parsed as the file would be.
  std::string utf16 = "\xFF\xFE" + text;
  if (port::posix::decode_registry_bytes(&utf16)) (void)port::posix::parse_registry_text(utf16);
  return 0;
}
