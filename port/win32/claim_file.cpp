// A claim file removed when the console tells the program to end. The
// console's handler runs on a thread of its own; a lock keeps it from acting
// while the file is created or removed, so it only ever removes a file this
// process created.
#include "port/claim_file.h"

#include <windows.h>

#include <cerrno>
#include <cstdio>

#include "port/file.h"

namespace port {

namespace {

SRWLOCK guard = SRWLOCK_INIT;
char held_path[1024];
bool armed = false;
// The handler has removed the file. The program goes on until the process
// ends, and the name may by then belong to another process's new file.
bool taken = false;
bool installed = false;

BOOL WINAPI on_end_request(DWORD) {
  AcquireSRWLockExclusive(&guard);
  if (armed) {
    DeleteFileA(held_path);
    armed = false;
    taken = true;
  }
  ReleaseSRWLockExclusive(&guard);
  return FALSE;  // the next handler, in the end the one that ends the process
}

}  // namespace

int create_claim_file(const char* path) {
  AcquireSRWLockExclusive(&guard);
  const int created = create_exclusive(path);
  const int error = errno;
  if (created == 0 && !armed &&
      std::snprintf(held_path, sizeof held_path, "%s", path) < static_cast<int>(sizeof held_path)) {
    armed = true;
    if (!installed) installed = SetConsoleCtrlHandler(on_end_request, TRUE) != 0;
  }
  ReleaseSRWLockExclusive(&guard);
  errno = error;
  return created;
}

int remove_claim_file(const char* path) {
  AcquireSRWLockExclusive(&guard);
  if (taken) {
    ReleaseSRWLockExclusive(&guard);
    return 0;
  }
  const int removed = remove_file(path);
  const int error = errno;
  armed = false;
  ReleaseSRWLockExclusive(&guard);
  errno = error;
  return removed;
}

}  // namespace port
