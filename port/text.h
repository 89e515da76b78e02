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
// The length of the character at pos: 2 for a double-byte one, else 1.
inline std::size_t char_length(std::string_view text, std::size_t pos) { return double_byte_at(text, pos) ? 2 : 1; }
inline std::size_t char_length(const char* text, std::size_t pos) { return double_byte_at(text, pos) ? 2 : 1; }

// The text without the separators (bytes of separators) that end it. It is
// read a character at a time, so that the second byte of a double-byte
// character that ends it is never taken for a separator.
inline std::string_view without_final_separators(std::string_view text, std::string_view separators) {
  std::size_t keep = 0;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = char_length(text, i);
    if (length == 2 || separators.find(text[i]) == std::string_view::npos) keep = i + length;
    i += length;
  }
  return text.substr(0, keep);
}

// Names are matched without regard to the case of their ASCII letters only:
// the second byte of a double-byte character may have a letter's code.
inline char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// A path value whose last byte is a lead byte without its second byte would
// swallow the "\" joined after it, or the quote or blank after it in a
// command line, since both are read a character at a time. Such a value is
// never a valid name: every program refuses it wherever a path value is
// joined or put into a line, before anything is run or touched. True for
// such a text, read a character at a time from its start.
inline bool ends_in_half_character(std::string_view text) {
  std::size_t i = 0;
  while (i + 1 < text.size()) i += char_length(text, i);
  return i < text.size() && is_lead_byte(static_cast<unsigned char>(text[i]));
}

}  // namespace port
