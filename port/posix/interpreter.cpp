// The POSIX interpreter reads "/" as a switch only in the words its own
// commands know as switches, so a POSIX path needs no quotes for it.
#include "port/interpreter.h"

namespace port {

bool splits_line_word(char c) { return is_line_separator(c) || is_line_operator(c); }

bool drops_at_component_end(char) { return false; }

}  // namespace port
