#pragma once
// The NAME=value line of the settings files.
#include <cstddef>

// Splits a line (without its line break) into name and value: the name is the
// text before the first "=" (leading "=" passed over), the value everything
// behind it; nothing is trimmed. Returns 0 when both were found and copied;
// -1 when the line has no name or no value (or no memory, after a message);
// -2 when the name, -3 when the value does not fit its buffer (the buffers
// are then left empty). The line itself is not changed.
int GetAttrVal(const char* line, char* name, std::size_t name_size, char* value, std::size_t value_size);

// The message of a settings line that cannot be copied for want of memory.
void report_line_copy_failure();

// Result codes of GetAttrVal.
constexpr int kAttrNameTooLong = -2;
constexpr int kAttrValueTooLong = -3;
