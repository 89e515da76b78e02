// The lock between processes on Windows: the lock file opened with nothing
// shared, so that a second open fails with a sharing violation while the
// holder's handle lives. The system closes the handle of a process however it
// ends, and the file goes with the handle.
#include "port/file_lock.h"

#include <windows.h>

#include <cerrno>

namespace port {

FileLock::Result FileLock::take(const char* path) {
  release();
  // Which process holds a file is not for a plain handle to see here.
  holders_.clear();
  // Inheritable: the children keep the lock while they run.
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE file = CreateFileA(path, GENERIC_READ, 0, &inherit, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    handle_ = reinterpret_cast<std::intptr_t>(file);
    path_ = path;
    return Result::kTaken;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
    errno = EAGAIN;
    return Result::kHeld;
  }
  errno = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENOENT : EACCES;
  return Result::kFailed;
}

void FileLock::release() {
  if (handle_ == -1) return;
  CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
  path_.clear();
}

// No program asks on Windows; a look there could only take the lock itself.
FileLock::Held FileLock::held(const char*) { return Held::kCannotTell; }

}  // namespace port
