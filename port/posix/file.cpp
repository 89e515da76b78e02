// File operations on POSIX. Every path the programs give is a Windows-style
// path; it reaches the file system with "/" separators.
#include "port/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "port/posix/path.h"
#include "port/posix/syscalls.h"
#include "port/posix/table_stream.h"
#include "port/posix/unique_fd.h"

namespace port {

using posix::native_path;
using posix::sys;

namespace {

void fill_info(const struct stat& st, FileInfo* info) {
  if (info == nullptr) return;
  info->is_directory = S_ISDIR(st.st_mode);
  info->is_regular = S_ISREG(st.st_mode);
  info->is_device = S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode);
  info->is_fifo = S_ISFIFO(st.st_mode);
  info->is_link = S_ISLNK(st.st_mode);
  info->size = static_cast<long long>(st.st_size);
  info->modified = static_cast<long long>(st.st_mtim.tv_sec);
}

void identity_of(const struct stat& st, FileIdentity* identity) {
  identity->device = static_cast<unsigned long long>(st.st_dev);
  identity->index = static_cast<unsigned long long>(st.st_ino);
  identity->size = static_cast<long long>(st.st_size);
  identity->modified = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
}

}  // namespace

int file_identity(const char* path, FileIdentity* identity) {
  struct stat st {};
  if (sys().stat(native_path(path).c_str(), &st) != 0) return -1;
  identity_of(st, identity);
  return 0;
}

int file_stat(const char* path, FileInfo* info) {
  struct stat st {};
  if (sys().stat(native_path(path).c_str(), &st) != 0) {
    // A path that runs through a plain file does not exist, and the Windows
    // runtime says so; callers tell "missing" from other failures by ENOENT.
    if (errno == ENOTDIR) errno = ENOENT;
    return -1;
  }
  fill_info(st, info);
  return 0;
}

int entry_stat(const char* path, FileInfo* info) {
  struct stat st {};
  if (sys().lstat(native_path(path).c_str(), &st) != 0) {
    if (errno == ENOTDIR) errno = ENOENT;  // as file_stat
    return -1;
  }
  fill_info(st, info);
  return 0;
}

int stream_stat(std::FILE* stream, FileInfo* info) {
  struct stat st {};
  const int fd = posix::stream_fd(stream);
  if (fd < 0) return -1;
  if (sys().fstat(fd, &st) != 0) return -1;
  fill_info(st, info);
  return 0;
}

bool is_readable(const char* path) { return sys().access(native_path(path).c_str(), R_OK) == 0; }

bool exists(const char* path) { return sys().access(native_path(path).c_str(), F_OK) == 0; }

bool is_directory(const char* path) {
  FileInfo info;
  return file_stat(path, &info) == 0 && info.is_directory;
}

int make_writable(const char* path) {
  const std::string native = native_path(path);
  struct stat st {};
  if (sys().lstat(native.c_str(), &st) != 0) return -1;
  // The entry itself, never what a link leads to: a link is left alone (the
  // table's chmod never follows one either, should the entry change between).
  if (S_ISLNK(st.st_mode)) {
    errno = EACCES;
    return -1;
  }
  return sys().chmod(native.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0 ? 0 : -1;
}

int remove_file(const char* path) { return sys().unlink(native_path(path).c_str()) == 0 ? 0 : -1; }

int remove_plain_file(const char* path) {
  const std::string native = native_path(path);
  struct stat st {};
  if (sys().lstat(native.c_str(), &st) != 0) {
    if (errno == ENOTDIR) errno = ENOENT;  // as file_stat
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    errno = EPERM;
    return -1;
  }
  // Should the name be put to another use meanwhile, unlink(2) still never
  // removes a directory, and of a link only the link.
  return sys().unlink(native.c_str()) == 0 ? 0 : -1;
}

int rename_file(const char* from, const char* to) {
  return sys().rename(native_path(from).c_str(), native_path(to).c_str()) == 0 ? 0 : -1;
}

namespace {

// Flushes the data of the file (or directory) at a native path to the disk.
int sync_path(const std::string& native, int flags) {
  const posix::UniqueFd fd = posix::open_fd(native.c_str(), flags | O_NONBLOCK | O_CLOEXEC);
  if (!fd.valid()) return -1;
  return sys().fsync(fd.get());
}

// The directory part of a native path ("." for a bare name).
std::string directory_of(const std::string& native) {
  const std::size_t slash = native.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : native.substr(0, slash);
}

}  // namespace

int flush_file(const char* path) { return sync_path(native_path(path), O_RDONLY); }

namespace {

// A file system that cannot flush a directory keeps its names its own way.
int flush_native_directory(const std::string& native) {
  if (sync_path(native, O_RDONLY | O_DIRECTORY) == 0) return 0;
  return errno == EINVAL || errno == EOPNOTSUPP ? 0 : -1;
}

}  // namespace

int flush_directory(const char* path) { return flush_native_directory(native_path(path)); }

int replace_file(const char* from, const char* to) {
  const std::string native_from = native_path(from);
  const std::string native_to = native_path(to);
  if (sync_path(native_from, O_RDONLY) != 0) return -1;
  // rename(2) replaces the target atomically.
  if (sys().rename(native_from.c_str(), native_to.c_str()) != 0) return -1;
  // The new name itself lives in the directory: flush it too. A file system
  // that cannot flush a directory has made the rename durable its own way.
  sync_path(directory_of(native_to), O_RDONLY | O_DIRECTORY);
  return 0;
}

unsigned long owner_of(const char* path) {
  struct stat st {};
  if (sys().lstat(native_path(path).c_str(), &st) != 0) return static_cast<unsigned long>(-1);
  return st.st_uid;
}

int change_dir(const char* path) { return sys().chdir(native_path(path).c_str()) == 0 ? 0 : -1; }

namespace {

constexpr char kWorkSuffix[] = ".new";

// Writes all the bytes, again where a signal or a short write cut a call off.
int write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = sys().write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return 0;
}

}  // namespace

int write_whole_file(const char* path, const char* data, std::size_t size) {
  const std::string native = native_path(path);
  const std::string work = native + kWorkSuffix;
  if (sys().unlink(work.c_str()) != 0 && errno != ENOENT) return -1;
  posix::UniqueFd fd = posix::open_fd(work.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (!fd.valid()) return -1;
  const bool written = write_all(fd.get(), data, size) == 0 && sys().fsync(fd.get()) == 0;
  const int write_error = errno;
  const int closed = sys().close(fd.release());
  if (!written || closed != 0) {
    const int error = written ? errno : write_error;
    sys().unlink(work.c_str());
    errno = error;
    return -1;
  }
  if (sys().rename(work.c_str(), native.c_str()) != 0) {
    const int error = errno;
    sys().unlink(work.c_str());
    errno = error;
    return -1;
  }
  return flush_native_directory(directory_of(native));
}

SmallRead read_small_file(const char* path, std::size_t limit, SmallFile* file) {
  // Never blocking: not on a FIFO's other end, not on a lease's break.
  posix::UniqueFd fd = posix::open_fd(native_path(path).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (!fd.valid()) {
    if (errno == ENOENT || errno == ENOTDIR) return SmallRead::kMissing;
    return errno == ELOOP ? SmallRead::kNotRegular : SmallRead::kUnreadable;
  }
  struct stat st {};
  if (sys().fstat(fd.get(), &st) != 0) return SmallRead::kUnreadable;
  if (!S_ISREG(st.st_mode)) return SmallRead::kNotRegular;
  file->owner = st.st_uid;
  file->others_may_write = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
  identity_of(st, &file->identity);
  if (static_cast<unsigned long long>(st.st_size) > limit) return SmallRead::kTooLarge;
  file->bytes.assign(limit + 1, '\0');
  std::size_t got = 0;
  while (got < file->bytes.size()) {
    const ssize_t count = sys().read(fd.get(), file->bytes.data() + got, file->bytes.size() - got);
    if (count < 0) {
      if (errno == EINTR) continue;
      return SmallRead::kUnreadable;
    }
    if (count == 0) break;
    got += static_cast<std::size_t>(count);
  }
  // A file that grew after it was looked at is as long as it is now.
  if (got > limit) return SmallRead::kTooLarge;
  file->bytes.resize(got);
  return SmallRead::kRead;
}

int create_exclusive(const char* path) {
  return posix::open_fd(native_path(path).c_str(), O_CREAT | O_EXCL | O_RDONLY, 0666).valid() ? 0 : -1;
}

}  // namespace port
