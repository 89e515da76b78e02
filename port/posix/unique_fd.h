#pragma once
// Owners of the descriptors the POSIX port and the command interpreter open,
// so that every way out of a routine closes them, through the call table.
#include <dirent.h>
#include <sys/types.h>

namespace port::posix {

// A file descriptor: closed through the call table when its owner goes. A
// close keeps errno as it was, so that an owner going out of scope on a
// failure path never hides the failure's errno.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Gives the descriptor up without closing it.
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes the descriptor held so far and takes the new one.
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// open(2) and openat(2) through the call table, again when a signal cut them
// short: an owned descriptor, or an invalid one with errno set.
UniqueFd open_fd(const char* path, int flags, mode_t mode = 0);
UniqueFd open_fd_at(int dir_fd, const char* name, int flags, mode_t mode = 0);

// A directory stream: closed with closedir.
class UniqueDir {
 public:
  explicit UniqueDir(DIR* dir) : dir_(dir) {}
  UniqueDir(const UniqueDir&) = delete;
  UniqueDir& operator=(const UniqueDir&) = delete;
  ~UniqueDir();

  DIR* get() const { return dir_; }

 private:
  DIR* dir_;
};

}  // namespace port::posix
