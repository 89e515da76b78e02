#pragma once
// What the look reads of a gatherer's files, and how it names a file that is
// not there to be read.
#include <cstddef>
#include <string>

#include "port/file.h"

// The record line lorvex-cycle keeps is short; a longer first line is no
// record, and reading on would only cost time and memory.
inline constexpr std::size_t kRecordLineLimit = 4096;

// What stands in a file's place when it is no regular file, as a warning
// names it: "a symbolic link", "a directory", "a device", "a FIFO".
std::string kind_of(const port::FileInfo& info);

enum class FirstLine { kRead, kMissing, kTooLong, kUnreadable };
// The first line of the regular file at the name itself, without its line
// break (and a carriage return before it), at most limit bytes; the file is
// never reached through a link, and anything but a regular file is
// kUnreadable (errno EACCES), without a wait. kUnreadable leaves errno.
FirstLine first_line(const std::string& path, std::size_t limit, std::string* line);

// The status of a record "YYYYMMDD HH:MM:SS NAME: status N: WHAT" of the
// gatherer named, or -1 when the line is no such record: another form,
// another name, a control character, or a status the cycle command never
// ends with (0, 1, 2, 75).
int record_status(const std::string& line, const std::string& name);

// A count of the statistics, the text after an attribute's "}:": digits
// with blanks around them and nothing else. -1 when it is no count.
long long count_value(const char* text);
