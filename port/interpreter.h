#pragma once
// What the command interpreter makes of single bytes of a line. The programs
// that compose lines and the POSIX interpreter that reads them both read this
// one table, so that what one quotes is exactly what the other would split.
#include <cstring>

namespace port {

// Bytes that end a name of the interpreter's own commands (del, rmdir, type)
// when they stand outside double quotes.
inline constexpr char kLineSeparators[] = " \t,;=";
// Bytes that the interpreter reads as operators outside double quotes.
inline constexpr char kLineOperators[] = "&|<>^()";

inline bool is_line_separator(char c) { return c != '\0' && std::strchr(kLineSeparators, c) != nullptr; }
inline bool is_line_operator(char c) { return c != '\0' && std::strchr(kLineOperators, c) != nullptr; }

// True when the byte, unquoted, would split a name or begin an operator. On
// Windows "/" too: the interpreter's own commands read "/x" inside an
// unquoted name as a switch.
bool splits_line_word(char c);

// True when the file system drops the byte at the end of a path component
// (Windows drops dots and blanks there), so that no quoting can name such a
// component.
bool drops_at_component_end(char c);

}  // namespace port
