// File facilities on Windows: the C runtime's calls and the Win32 ones the
// tools have always used, with Windows paths as they are.
#include "port/file.h"

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "port/win32/handle.h"

namespace port {

using win32::FindHandle;
using win32::UniqueHandle;

namespace {

void fill_info(const struct _stat64& st, FileInfo* info) {
  if (info == nullptr) return;
  info->is_directory = (st.st_mode & _S_IFMT) == _S_IFDIR;
  info->is_regular = (st.st_mode & _S_IFMT) == _S_IFREG;
  info->size = st.st_size;
}

}  // namespace

int file_stat(const char* path, FileInfo* info) {
  // The 64-bit form of _stat, so that a file past 2 GB reports its size.
  struct _stat64 st{};
  if (_stat64(path, &st) != 0) return -1;
  fill_info(st, info);
  return 0;
}

int stream_stat(std::FILE* stream, FileInfo* info) {
  const int fd = stream != nullptr ? _fileno(stream) : -1;
  if (fd < 0) {
    errno = EBADF;
    return -1;
  }
  struct _stat64 st{};
  if (_fstat64(fd, &st) != 0) return -1;
  fill_info(st, info);
  return 0;
}

bool is_readable(const char* path) { return _access(path, 4) == 0; }

bool exists(const char* path) { return _access(path, 0) == 0; }

bool is_directory(const char* path) {
  FileInfo info;
  return file_stat(path, &info) == 0 && info.is_directory;
}

namespace {

// A symbolic link or another reparse point in the place of the file: a
// program never changes the mode of, nor writes through, what it leads to.
bool is_reparse_point(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace

int make_writable(const char* path) {
  if (is_reparse_point(path)) {
    errno = EACCES;
    return -1;
  }
  return _chmod(path, _S_IWRITE);
}

int remove_file(const char* path) { return _unlink(path); }

int rename_file(const char* from, const char* to) { return std::rename(from, to); }

int replace_file(const char* from, const char* to) {
  // The data first, so that the name never leads to a file the disk has not got.
  {
    UniqueHandle file(CreateFileA(from, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    // A file that cannot be opened for writing (read-only) is moved as it is.
    if (file.valid()) FlushFileBuffers(file.get());
  }
  if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 0;
  const DWORD error = GetLastError();
  errno = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENOENT : EACCES;
  return -1;
}

int change_dir(const char* path) { return _chdir(path); }

int create_exclusive(const char* path) {
  int fd = _open(path, _O_CREAT | _O_EXCL | _O_RDONLY, _S_IREAD | _S_IWRITE);
  if (fd < 0) return -1;
  _close(fd);
  return 0;
}

std::FILE* open_file(const char* path, const char* mode) {
  const bool writing = mode[0] != 'r' || std::strchr(mode, '+') != nullptr;
  if (writing && is_reparse_point(path)) {
    errno = EACCES;
    return nullptr;
  }
  return std::fopen(path, mode);
}

long read_available(std::FILE* stream, char* buffer, std::size_t size) {
  const int fd = stream != nullptr ? _fileno(stream) : -1;
  if (fd < 0) {
    errno = EBADF;
    return -1;
  }
  // _read takes an unsigned int count; a pipe or console gives what it has.
  constexpr std::size_t kMaxRead = 1u << 30;
  return _read(fd, buffer, static_cast<unsigned int>(size < kMaxRead ? size : kMaxRead));
}

void set_binary_mode(std::FILE* stream) { _setmode(_fileno(stream), _O_BINARY); }

void set_text_mode(std::FILE* stream) { _setmode(_fileno(stream), _O_TEXT); }

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
