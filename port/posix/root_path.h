#pragma once
// The search path of a program run as root.

namespace port::posix {

// Run as root, PATH keeps only its absolute entries: a relative or empty
// entry names a directory relative to wherever a program happens to search
// it (the children's own searches, Perl's -S among them, included), where
// another user may have planted a program. Each entry left out is told in a
// warning line on standard error. Called at every program's start and
// whenever PATH is set.
void drop_relative_search_entries();

}  // namespace port::posix
