// Directory search on POSIX: the last part of the pattern matched as Windows
// matches it, per Shift_JIS character.
#include "port/dir_wildcard.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "port/posix/path.h"
#include "port/posix/syscalls.h"
#include "port/posix/unique_fd.h"
#include "port/text.h"

namespace port {

using posix::native_path;
using posix::sys;

namespace {

// "*" and "?" matching per Shift_JIS character, so that "?" takes a whole
// double-byte character and a trail byte is never a wildcard. Letters match
// without regard to their case, as names do on Windows.
bool same_char(const char* a, const char* b, size_t length) {
  return length == 2 ? std::memcmp(a, b, 2) == 0 : ascii_lower(*a) == ascii_lower(*b);
}

bool wildcard_match(const char* pattern, const char* name) {
  const char* star_pattern = nullptr;  // just after the last "*" seen
  const char* star_name = nullptr;     // where that "*" has matched up to
  while (*name != '\0') {
    if (*pattern == '*') {
      star_pattern = ++pattern;
      star_name = name;
      continue;
    }
    const size_t name_len = char_length(name, 0);
    if (*pattern == '?') {
      ++pattern;
      name += name_len;
      continue;
    }
    const size_t pattern_len = *pattern ? char_length(pattern, 0) : 0;
    if (pattern_len == name_len && same_char(pattern, name, name_len)) {
      pattern += pattern_len;
      name += name_len;
      continue;
    }
    if (star_pattern == nullptr) return false;
    pattern = star_pattern;
    star_name += char_length(star_name, 0);
    name = star_name;
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

// As on Windows, a pattern ending in ".*" also takes names without any
// extension ("*.*" is every name, "log.*" takes "log"), and one ending in "."
// takes those ("*." is every name without an extension).
bool name_matches(const std::string& pattern, const char* name) {
  if (wildcard_match(pattern.c_str(), name)) return true;
  const size_t size = pattern.size();
  size_t cut = 0;
  if (size >= 2 && pattern.compare(size - 2, 2, ".*") == 0) {
    cut = 2;
  } else if (size >= 1 && pattern[size - 1] == '.') {
    cut = 1;
  }
  return cut > 0 && std::strchr(name, '.') == nullptr && wildcard_match(pattern.substr(0, size - cut).c_str(), name);
}

}  // namespace

int find_entries(const char* pattern, std::vector<DirEntry>* entries) {
  if (entries == nullptr) {
    errno = EINVAL;
    return -1;
  }
  entries->clear();
  const std::string native = native_path(pattern ? pattern : "");
  const size_t slash = native.rfind('/');
  std::string dir;
  std::string last;
  if (slash == std::string::npos) {
    dir = ".";
    last = native;
  } else {
    dir = slash == 0 ? "/" : native.substr(0, slash);
    last = native.substr(slash + 1);
  }
  const posix::UniqueDir directory(sys().opendir(dir.c_str()));
  if (directory.get() == nullptr) return -1;
  while (const dirent* entry = sys().readdir(directory.get())) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    if (!name_matches(last, name)) continue;
    DirEntry found;
    found.name = name;
    struct stat st {};
    const std::string full = dir == "/" ? "/" + found.name : dir + "/" + found.name;
    found.is_directory = sys().stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    entries->push_back(std::move(found));
  }
  return 0;
}

int any_entry_matches(const char* pattern) {
  std::vector<DirEntry> entries;
  if (find_entries(pattern, &entries) != 0) return -1;
  return entries.empty() ? 0 : 1;
}

}  // namespace port
