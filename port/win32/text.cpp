// The multibyte code page on Windows: the system's own classification of the
// ANSI code page (932 on a Japanese system).
#include "port/text.h"

#include <windows.h>

namespace port {

bool is_lead_byte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }

}  // namespace port
