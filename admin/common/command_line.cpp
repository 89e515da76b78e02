#include "admin/common/command_line.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "port/interpreter.h"
#include "port/text.h"

namespace {

// Windows reads "/x" in an unquoted word of its own commands as a switch; the
// POSIX interpreter only a word that is nothing but a switch.
bool looks_like_switch(const char* text) {
  return text[0] == '/' && std::isalpha(static_cast<unsigned char>(text[1])) && text[2] == '\0';
}

// True when some part of the path (between separators) ends in a byte the
// file system drops there; "." and ".." are parts that name by their dots.
bool has_dropped_end(const char* path) {
  std::size_t start = 0;
  for (std::size_t i = 0;; ++i) {
    if (path[i] != '\0' && port::double_byte_at(path, i)) {
      ++i;
      continue;
    }
    if (path[i] != '\0' && path[i] != '\\' && path[i] != '/') continue;
    const std::string_view part(path + start, i - start);
    // The second byte of a double-byte character is never a dot or a blank.
    if (!part.empty() && part != "." && part != ".." && port::drops_at_component_end(part.back())) return true;
    if (path[i] == '\0') return false;
    start = i + 1;
  }
}

// The word of text: in quotes when always_quoted or when it holds a special
// character. Backslashes before the closing quote are doubled, or the
// argument splitter would take the last one as escaping the quote.
int quote_word(const char* text, char* out, std::size_t size, bool is_path) {
  if (size > 0) out[0] = '\0';
  // What no quoting carries through; the rest of check_line_value is for the
  // interpreter's lines alone, its callers ask it.
  if (std::strchr(text, '"') != nullptr) return kPathHoldsQuote;
  if (port::ends_in_half_character(text)) return kPathHalfCharacter;
  const std::size_t length = std::strlen(text);
  // An empty word is no word at all unless it is quoted.
  bool needs_quotes = !is_path || length == 0 || looks_like_switch(text);
  std::size_t trailing_backslashes = 0;
  for (std::size_t i = 0; i < length; ++i) {
    if (port::double_byte_at(text, i)) {
      ++i;  // the second byte is part of the character
      trailing_backslashes = 0;
      continue;
    }
    const char c = text[i];
    if (port::splits_line_word(c)) needs_quotes = true;
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
    case kPathExpands:
      return "holds percent signs that the command interpreter would expand";
    case kPathDroppedEnd:
      return "has a part that ends in a dot or a blank, which Windows drops";
    default:
      return nullptr;
  }
}

int check_line_value(const char* value, bool is_path) {
  if (std::strchr(value, '"') != nullptr) return kPathHoldsQuote;
  if (interpreter_may_expand(value)) return kPathExpands;
  if (port::ends_in_half_character(value)) return kPathHalfCharacter;
  if (is_path && has_dropped_end(value)) return kPathDroppedEnd;
  return 0;
}

int quote_path(const char* path, char* out, std::size_t size) { return quote_word(path, out, size, true); }

int quote_argument(const char* text, char* out, std::size_t size) { return quote_word(text, out, size, false); }

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
