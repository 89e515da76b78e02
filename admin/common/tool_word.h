#pragma once
// Perl and gzip as the first word of a command line.
#include <cstddef>
#include <string>

#include "admin/common/installation.h"

// Looks the tool up in the registry without a
// message, takes fallback when the value is missing or unusable, turns its
// separators into "\" and writes it into out as one word of a command line
// (check_line_value, then quote_path). Returns 0, a refusal of those or
// kLineTooLong (out is then empty). The program's name or path, unquoted,
// goes into *program when given, for finding the program before a line runs it.
int tool_word(installation::Tool tool, const char* fallback, char* out, std::size_t size, std::string* program = nullptr);
