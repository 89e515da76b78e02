// The Windows interpreter's commands take "/x" anywhere in an unquoted word
// for a switch, and Windows drops a component's last dots and blanks.
#include "port/interpreter.h"

namespace port {

bool splits_line_word(char c) { return c == '/' || is_line_separator(c) || is_line_operator(c); }

bool drops_at_component_end(char c) { return c == '.' || c == ' '; }

}  // namespace port
