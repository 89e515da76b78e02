#pragma once
// Entries of the password and group databases, with buffers that grow to
// whatever an entry needs.
#include <grp.h>
#include <pwd.h>
#include <sys/types.h>

#include <vector>

namespace port::posix {

// The entry in *entry, its strings in *buffer; null when there is none (or
// it cannot be read).
struct passwd* password_entry(uid_t uid, struct passwd* entry, std::vector<char>* buffer);
struct passwd* password_entry(const char* name, struct passwd* entry, std::vector<char>* buffer);
struct group* group_entry(gid_t gid, struct group* entry, std::vector<char>* buffer);

}  // namespace port::posix
