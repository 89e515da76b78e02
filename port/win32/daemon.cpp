// The checks of a process a pid file names, on Windows: its image and its
// start, read and acted on through one process handle, so that the id
// cannot come to name another process in between.
#include <windows.h>

#include <cstring>
#include <string>

#include "port/process.h"
#include "port/win32/handle.h"

namespace port {

using win32::UniqueHandle;

namespace {

// File times count 100-nanosecond steps; two seconds are allowed for file
// systems that keep coarse times.
constexpr unsigned long long kCoarseTimes = 2ULL * 10000000ULL;

unsigned long long ticks_of(const FILETIME& time) {
  return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

DaemonEnd failed(DaemonEnd result, int* error) {
  if (error != nullptr) *error = static_cast<int>(GetLastError());
  return result;
}

bool same_name(std::string image, std::string program) {
  const std::size_t slash = image.find_last_of("\\/");
  if (slash != std::string::npos) image.erase(0, slash + 1);
  if (image.size() > 4 && _stricmp(image.c_str() + image.size() - 4, ".exe") == 0) image.resize(image.size() - 4);
  return _stricmp(image.c_str(), program.c_str()) == 0;
}

}  // namespace

DaemonEnd end_daemon(long pid, const DaemonCheck& check, int* error, const char** why, long* left) {
  if (left != nullptr) *left = pid;
  if (pid <= 0 || static_cast<unsigned long long>(pid) > 0xFFFFFFFFULL) return DaemonEnd::kNoProcess;
  UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE,
                                   static_cast<DWORD>(pid)));
  if (!process.valid()) {
    // The system's word for an id that names no process.
    if (GetLastError() == ERROR_INVALID_PARAMETER) return DaemonEnd::kNoProcess;
    return failed(DaemonEnd::kCannotExamine, error);
  }
  DWORD status = 0;
  if (GetExitCodeProcess(process.get(), &status) && status != STILL_ACTIVE) return DaemonEnd::kNoProcess;
  char image[MAX_PATH * 2];
  DWORD size = sizeof image;
  if (!QueryFullProcessImageNameA(process.get(), 0, image, &size)) return failed(DaemonEnd::kCannotExamine, error);
  if (!same_name(image, check.program)) {
    if (why != nullptr) *why = "it does not run the daemon's program";
    return DaemonEnd::kNotTheDaemon;
  }
  FILETIME created{}, ended{}, kernel{}, user{};
  WIN32_FILE_ATTRIBUTE_DATA pid_file{};
  if (!GetProcessTimes(process.get(), &created, &ended, &kernel, &user) ||
      !GetFileAttributesExA(check.pid_file, GetFileExInfoStandard, &pid_file)) {
    return failed(DaemonEnd::kCannotExamine, error);
  }
  // The time of what a link leads to says nothing of the daemon's pid file.
  if ((pid_file.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    if (why != nullptr) *why = "the pid file is a symbolic link";
    return DaemonEnd::kNotTheDaemon;
  }
  // An id taken again belongs to a process that started after the daemon
  // wrote it.
  if (ticks_of(created) > ticks_of(pid_file.ftLastWriteTime) + kCoarseTimes) {
    if (why != nullptr) *why = "it started after the pid file was written";
    return DaemonEnd::kNotTheDaemon;
  }
  if (!TerminateProcess(process.get(), 0)) {
    const DWORD code = GetLastError();
    // A process that has already ended is refused termination, yet it is gone.
    if (GetExitCodeProcess(process.get(), &status) && status != STILL_ACTIVE) return DaemonEnd::kEnded;
    if (error != nullptr) *error = static_cast<int>(code);
    return DaemonEnd::kRefused;
  }
  return WaitForSingleObject(process.get(), check.wait_ms) == WAIT_OBJECT_0 ? DaemonEnd::kEnded
                                                                          : DaemonEnd::kStillRunning;
}

AtWork program_at_work_here(long, const char*, const char*, const char**) { return AtWork::kNo; }

}  // namespace port
