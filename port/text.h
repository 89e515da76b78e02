#pragma once
// The multibyte code page of the system's text (Shift_JIS).
#include <cstddef>
#include <string_view>

namespace port {

// True when the byte begins a double-byte character.
bool is_lead_byte(unsigned char byte);

// True when the byte at pos starts a double-byte character that really has
// its second byte (a lead byte at the very end stands alone). Text is passed
// over a character at a time this way, so that a second byte (which may be
// the code of "\" or of another special character) is never taken alone.
inline bool double_byte_at(std::string_view text, std::size_t pos) {
  return is_lead_byte(static_cast<unsigned char>(text[pos])) && pos + 1 < text.size();
}
inline bool double_byte_at(const char* text, std::size_t pos) {
  return is_lead_byte(static_cast<unsigned char>(text[pos])) && text[pos + 1] != '\0';
}

// A path value whose last byte is a lead byte without its second byte would
// swallow the "\" joined after it, or the quote or blank after it in a
// command line, since both are read a character at a time. Such a value is
// never a valid name: every program refuses it wherever a path value is
// joined or put into a line, before anything is run or touched. True for
// such a text, read a character at a time from its start.
inline bool ends_in_half_character(const char* text) {
  std::size_t i = 0;
  while (text[i] != '\0' && text[i + 1] != '\0') i += double_byte_at(text, i) ? 2 : 1;
  return text[i] != '\0' && is_lead_byte(static_cast<unsigned char>(text[i]));
}

}  // namespace port
