// Shift_JIS (code page 932) is the system's multibyte code page on POSIX.
#include "port/text.h"

namespace port {

bool is_lead_byte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

}  // namespace port
