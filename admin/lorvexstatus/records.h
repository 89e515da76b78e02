#pragma once
// What the look reads of a gatherer's files, and how it names a file that is
// not there to be read.
#include <cstddef>
#include <string>

#include "port/file.h"

// What stands in a file's place when it is no regular file, as a warning
// names it: "a symbolic link", "a directory", "a device", "a FIFO".
std::string kind_of(const port::FileInfo& info);

// A count of the statistics, the text after an attribute's "}:": digits
// with blanks around them and nothing else. -1 when it is no count.
long long count_value(const char* text);
