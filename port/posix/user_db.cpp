// Entries of the password and group databases.
#include "port/posix/user_db.h"

#include <cerrno>

namespace port::posix {

namespace {

// An entry bigger than this is taken for a damaged database.
constexpr std::size_t kLargestEntry = 1u << 20;

template <class Entry, class Key, class Lookup>
Entry* look_up(Lookup lookup, Key key, Entry* entry, std::vector<char>* buffer) {
  buffer->resize(16384);
  Entry* found = nullptr;
  while (lookup(key, entry, buffer->data(), buffer->size(), &found) == ERANGE && buffer->size() < kLargestEntry) {
    buffer->resize(buffer->size() * 2);
  }
  return found;
}

}  // namespace

struct passwd* password_entry(uid_t uid, struct passwd* entry, std::vector<char>* buffer) {
  return look_up(&::getpwuid_r, uid, entry, buffer);
}

struct passwd* password_entry(const char* name, struct passwd* entry, std::vector<char>* buffer) {
  return look_up(&::getpwnam_r, name, entry, buffer);
}

struct group* group_entry(gid_t gid, struct group* entry, std::vector<char>* buffer) {
  return look_up(&::getgrgid_r, gid, entry, buffer);
}

}  // namespace port::posix
