// Whether some process holds a file open for writing, on Windows: the
// deny-write open of OpenFile, and a second open that tells a writer from a
// reader that shares nothing.
#include "port/held_open.h"

#include <windows.h>

#include <string>

#include "port/win32/handle.h"
#include "port/win32/reparse_point.h"

namespace port {

using win32::UniqueHandle;

namespace {

// The same question as OpenFile's, asked of CreateFileA: read access with
// only reading shared, so any opener that writes makes it fail. True when
// the open succeeds; *error holds the failure's code otherwise.
bool deny_write_open_by_create_file(const char* path, DWORD* error) {
  UniqueHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  *error = file.valid() ? 0 : GetLastError();
  return file.valid();
}

// A path from the root of a drive or share, or with a drive letter.
bool is_anchored(const char* path) {
  return path[0] == '\\' || path[0] == '/' || (path[0] != '\0' && path[1] == ':');
}

// The deny-write open: true when it succeeds (nobody writes); *error holds
// the failure's code otherwise.
bool deny_write_open(const char* path, DWORD* error) {
  // OpenFile keeps the full name in a record of OFS_MAXPATHNAME bytes and
  // fails on a longer one; that failure would read as "held" and make the
  // callers treat a free log as a running process's. Such a path gets the
  // same test through CreateFileA instead.
  char full[OFS_MAXPATHNAME];
  const DWORD length = GetFullPathNameA(path, sizeof(full), full, nullptr);
  if (length >= sizeof(full)) return deny_write_open_by_create_file(path, error);
  OFSTRUCT record{};
  const HFILE file = OpenFile(path, &record, OF_READ | OF_SHARE_DENY_WRITE);
  if (file == HFILE_ERROR) {
    *error = GetLastError();
    return false;
  }
  _lclose(file);
  *error = 0;
  return true;
}

// The deny-write open also fails when a reader holds the file without
// sharing reading (a backup agent, a scanner, a viewer), and for a file we
// may not read. An open that shares reading and writing, as a running
// process's log is held, succeeds only in the first case of a writer.
bool opens_beside_a_writer(const char* path, DWORD* error) {
  UniqueHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  *error = file.valid() ? 0 : GetLastError();
  return file.valid();
}

const char* reason_of(DWORD error) {
  switch (error) {
    case ERROR_SHARING_VIOLATION: return "it is open in a process that does not share reading it";
    case ERROR_ACCESS_DENIED: return "access to it is denied";
    default: return "it cannot be opened";
  }
}

}  // namespace

HoldState held_open_for_writing(const char* path, const char** why) {
  if (path == nullptr) return HoldState::kMissing;
  // OpenFile looks a relative name ("exportd.log", "logs\x.log") up along the
  // program search order, the program's own folder first, and would then
  // test some other folder's file of that name. The callers mean the file
  // under the current directory, which a leading ".\" names alone.
  std::string name = is_anchored(path) ? std::string(path) : std::string(".\\") + path;
  path = name.c_str();

  // The test would be made of whatever the link leads to, which another
  // program may hold: it tells nothing of the process that writes this name.
  if (win32::is_reparse_point(path)) {
    if (why != nullptr) *why = "it is a symbolic link (a reparse point)";
    return HoldState::kCannotTell;
  }
  DWORD error = 0;
  if (deny_write_open(path, &error)) return HoldState::kFree;
  if (error == ERROR_FILE_NOT_FOUND) return HoldState::kMissing;
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    if (why != nullptr) *why = "it is a directory";
    return HoldState::kCannotTell;
  }
  if (opens_beside_a_writer(path, &error)) return HoldState::kHeld;
  if (error == ERROR_FILE_NOT_FOUND) return HoldState::kMissing;
  if (why != nullptr) *why = reason_of(error);
  return HoldState::kCannotTell;
}

// Windows has no way to list the holders of a file short of the restart
// manager; the callers name none then.
int writers_of(const char*, long*, int) { return 0; }

}  // namespace port
