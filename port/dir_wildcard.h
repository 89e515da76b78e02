#pragma once
// Directory search with a pattern whose last part may hold "*" and "?"
// (FindFirstFileA): files and directories alike, "." and ".." never.
#include <string>
#include <vector>

namespace port {

struct DirEntry {
  std::string name;
  bool is_directory = false;
};
// 0 with the matches (possibly none); -1 when the directory cannot be read.
int find_entries(const char* pattern, std::vector<DirEntry>* entries);
// 1 when something matches, 0 when nothing does, -1 with errno when the
// directory cannot be searched: "nothing" is never said without looking.
int any_entry_matches(const char* pattern);

}  // namespace port
