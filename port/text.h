#pragma once
// The multibyte code page of the system's text (Shift_JIS).

namespace port {

// True when the byte begins a double-byte character.
bool is_lead_byte(unsigned char byte);

}  // namespace port
