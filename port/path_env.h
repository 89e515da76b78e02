#pragma once
// The program search path (PATH) as the programs of this target search it.

namespace port {

// Puts the directories in front of the current PATH, in the order given.
// Directories come in the system's own form ("C:\kestrel\bin"). On Windows
// the entries are joined with ";" and the old value follows after one more
// ";" (so an unset PATH leaves the value ending in ";"). On POSIX every "\"
// inside an entry becomes "/" and the entries are joined with ":", so that
// POSIX programs and Perl's -S can search the value; an unset or empty PATH
// adds no empty entry there, since an empty entry would name the current
// directory. Returns 0, or -1 when the value cannot be built or set (no
// memory); PATH is then unchanged.
int prepend_search_path(const char* const* dirs, int count);

}  // namespace port
