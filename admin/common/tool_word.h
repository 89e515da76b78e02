#pragma once
// Perl and gzip as the first word of a command line.
#include <cstddef>
#include <optional>
#include <string>

#include "admin/common/installation.h"

// The tool's file name as the registry gives it, looked up without a message,
// with "\" separators as a command line names it; none when missing or empty.
std::optional<std::string> configured_tool(installation::Tool tool);

// The configured_tool, or fallback when there is none, written into out as one
// word of an interpreter line (check_line_value, then quote_path). Returns 0, a refusal of those or
// kLineTooLong (out is then empty). The program's name or path, unquoted,
// goes into *program when given, for finding the program before a line runs it.
int tool_word(installation::Tool tool, const char* fallback, char* out, std::size_t size, std::string* program = nullptr);
