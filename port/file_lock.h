#pragma once
// A lock between processes, held through a lock file: at most one process at
// a time holds the lock of one name, and the system releases it when its
// holder ends, however it ends (a kill included), so that a holder that died
// never keeps the next one out. The children the holder starts keep it with
// it: a holder killed while its children still write must not let the next
// one in beside them.
#include <cstdint>
#include <string>

namespace port {

class FileLock {
 public:
  enum class Result {
    kTaken,
    kHeld,    // another process holds it
    kFailed,  // the lock file cannot be made or opened; errno tells why
  };

  FileLock() = default;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock() { release(); }

  // Takes the lock named by path without waiting, making the lock file when
  // it is missing. Only a regular file is a lock file: anything else in its
  // place (a FIFO, a directory) is kFailed with EACCES and is left alone.
  Result take(const char* path);
  // After kHeld: the processes that hold the lock file, as "NAME (pid N)"
  // joined by ", " (none of them this one); empty where the system cannot
  // tell. A holder that is a child of an earlier run tells the administrator
  // that no second run is at work, only what the first one left running.
  const std::string& holders() const { return holders_; }
  // Releases the lock and removes its file; a holder that is killed leaves
  // the file behind, which changes nothing for the next one.
  void release();

  // Whether some process holds the lock of the name, asked without taking
  // it (so that a look never keeps a holder out) and never through a link.
  enum class Held { kNo, kYes, kCannotTell };
  static Held held(const char* path);

 private:
  std::intptr_t handle_ = -1;
  std::string path_;
  std::string holders_;
};

}  // namespace port
