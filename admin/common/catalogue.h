#pragma once
// The message catalogue: "lorvex.msg" in the "lib" folder of the installation.
#include <cstddef>

// The largest text a catalogue entry yields, terminator included.
constexpr std::size_t kMsgTextSize = 4096;

// Looks the text of key up in the catalogue into out (at least kMsgTextSize
// bytes). 0 when found; -5 for a null key or buffer; the installation-path
// lookup's result when the installation cannot be found; -2 when the
// catalogue cannot be opened; -3 when the key is missing or has no text.
// Every failure is reported as a message of its own.
int get_msg_text(const char* key, char* out);
