// Directory search on Windows: FindFirstFileA and its matching.
#include "port/dir_wildcard.h"

#include <windows.h>

#include <cerrno>
#include <cstring>

#include "port/win32/handle.h"

namespace port {

using win32::FindHandle;

namespace {

bool is_dot_entry(const char* name) {
  return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

}  // namespace

int find_entries(const char* pattern, std::vector<DirEntry>* entries) {
  if (entries != nullptr) entries->clear();
  WIN32_FIND_DATAA data{};
  FindHandle search(FindFirstFileA(pattern, &data));
  if (!search.valid()) {
    DWORD error = GetLastError();
    // No match in a directory that exists is an empty result.
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES) return 0;
    errno = error == ERROR_PATH_NOT_FOUND ? ENOENT : EACCES;
    return -1;
  }
  do {
    if (is_dot_entry(data.cFileName)) continue;
    if (entries != nullptr) {
      entries->push_back(
          DirEntry{data.cFileName, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    }
  } while (FindNextFileA(search.get(), &data));
  return 0;
}

int any_entry_matches(const char* pattern) {
  WIN32_FIND_DATAA data{};
  FindHandle search(FindFirstFileA(pattern, &data));
  if (!search.valid()) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES) return 0;
    errno = error == ERROR_PATH_NOT_FOUND ? ENOENT : EACCES;
    return -1;
  }
  do {
    if (!is_dot_entry(data.cFileName)) return 1;
  } while (FindNextFileA(search.get(), &data));
  return 0;
}

}  // namespace port
