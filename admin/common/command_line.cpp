#include "admin/common/command_line.h"

#include <cstdio>
#include <cstring>

#include "port/text.h"

namespace {

bool is_special(char c) {
  return c == ' ' || c == '\t' || std::strchr("&|<>^()", c) != nullptr;
}

// The word of text: in quotes when always_quoted or when it holds a special
// character. Backslashes before the closing quote are doubled, or the
// argument splitter would take the last one as escaping the quote.
int quote_word(const char* text, char* out, std::size_t size, bool always_quoted) {
  if (size > 0) out[0] = '\0';
  if (port::ends_in_half_character(text)) return kPathHalfCharacter;
  const std::size_t length = std::strlen(text);
  // An empty word is no word at all unless it is quoted.
  bool needs_quotes = always_quoted || length == 0;
  std::size_t trailing_backslashes = 0;
  for (std::size_t i = 0; i < length; ++i) {
    if (port::double_byte_at(text, i)) {
      ++i;  // the second byte is part of the character
      trailing_backslashes = 0;
      continue;
    }
    const char c = text[i];
    if (c == '"') return kPathHoldsQuote;
    if (is_special(c)) needs_quotes = true;
    trailing_backslashes = c == '\\' ? trailing_backslashes + 1 : 0;
  }
  if (!needs_quotes) return compose_line(out, size, "%s", text) ? 0 : kLineTooLong;
  const int extra = static_cast<int>(trailing_backslashes);
  return compose_line(out, size, "\"%s%.*s\"", text, extra, text + length - extra) ? 0 : kLineTooLong;
}

}  // namespace

const char* path_refusal(int result) {
  switch (result) {
    case kPathHoldsQuote:
      return "holds a double quote";
    case kPathHalfCharacter:
      return "ends in half a double-byte character";
    default:
      return nullptr;
  }
}

int quote_path(const char* path, char* out, std::size_t size) { return quote_word(path, out, size, false); }

int quote_argument(const char* text, char* out, std::size_t size) { return quote_word(text, out, size, true); }

bool interpreter_may_expand(const char* text) {
  const char* first = std::strchr(text, '%');
  return first != nullptr && std::strchr(first + 1, '%') != nullptr;
}

bool compose_line(char* out, std::size_t size, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  const bool fits = vcompose_line(out, size, format, args);
  va_end(args);
  return fits;
}

bool vcompose_line(char* out, std::size_t size, const char* format, std::va_list args) {
  if (size == 0) return false;
  const int length = std::vsnprintf(out, size, format, args);
  if (length >= 0 && static_cast<std::size_t>(length) < size) return true;
  out[0] = '\0';
  return false;
}

bool compose_shell_line(char* out, std::size_t size, const char* body) {
  if (body[0] == '"') return compose_line(out, size, "cmd.exe /C \"%s\"", body);
  return compose_line(out, size, "cmd.exe /C %s", body);
}
