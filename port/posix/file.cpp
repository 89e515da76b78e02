// File facilities on POSIX. Every path the programs give is a Windows-style
// path; it reaches the file system with "/" separators.
#include "port/file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "port/posix/named_file.h"
#include "port/posix/path.h"
#include "port/posix/syscalls.h"
#include "port/text.h"

namespace port {

using posix::native_path;
using posix::sys;

namespace {

void fill_info(const struct stat& st, FileInfo* info) {
  if (info == nullptr) return;
  info->is_directory = S_ISDIR(st.st_mode);
  info->is_regular = S_ISREG(st.st_mode);
  info->size = static_cast<long long>(st.st_size);
}

// open(2), again when a signal cut it short.
int open_native(const char* native, int flags, mode_t mode = 0) {
  for (;;) {
    const int fd = sys().open(native, flags, mode);
    if (fd >= 0 || errno != EINTR) return fd;
  }
}

}  // namespace

namespace posix {

int open_named(const std::string& native, int flags, mode_t mode) {
  const bool writing = (flags & O_ACCMODE) != O_RDONLY || (flags & O_CREAT) != 0;
  if (writing) flags |= O_NOFOLLOW;
  int fd = open_native(native.c_str(), flags | O_NONBLOCK, mode);
  // A regular file under another process's lease refuses a non-blocking
  // open; a blocking one waits only until the lease is given up, which the
  // kernel bounds.
  if (fd < 0 && errno == EWOULDBLOCK) fd = open_native(native.c_str(), flags, mode);
  if (fd < 0) {
    // A FIFO or socket without a reader (ENXIO), a directory opened for
    // writing (EISDIR) and a link in the place of a file to write (ELOOP)
    // are no files to open, as on Windows.
    if (errno == ENXIO || errno == EISDIR || (writing && errno == ELOOP)) errno = EACCES;
    return -1;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    sys().close(fd);
    errno = EACCES;
    return -1;
  }
  const int status = sys().fcntl(fd, F_GETFL);
  if (status == -1 || sys().fcntl(fd, F_SETFL, status & ~O_NONBLOCK) == -1) {
    const int error = errno;
    sys().close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

}  // namespace posix

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

int stream_stat(std::FILE* stream, FileInfo* info) {
  struct stat st {};
  const int fd = stream != nullptr ? fileno(stream) : -1;
  if (fd < 0) {
    errno = EBADF;
    return -1;
  }
  if (fstat(fd, &st) != 0) return -1;
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
  if (::lstat(native.c_str(), &st) != 0) return -1;
  // The entry itself, never what a link leads to: a link is left alone (the
  // table's chmod never follows one either, should the entry change between).
  if (S_ISLNK(st.st_mode)) {
    errno = EACCES;
    return -1;
  }
  return sys().chmod(native.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0 ? 0 : -1;
}

int remove_file(const char* path) { return sys().unlink(native_path(path).c_str()) == 0 ? 0 : -1; }

int rename_file(const char* from, const char* to) {
  return sys().rename(native_path(from).c_str(), native_path(to).c_str()) == 0 ? 0 : -1;
}

namespace {

// Flushes the data of the file (or directory) at a native path to the disk.
int sync_path(const std::string& native, int flags) {
  const int fd = open_native(native.c_str(), flags | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  const int synced = sys().fsync(fd);
  const int error = errno;
  sys().close(fd);
  errno = error;
  return synced;
}

// The directory part of a native path ("." for a bare name).
std::string directory_of(const std::string& native) {
  const std::size_t slash = native.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : native.substr(0, slash);
}

}  // namespace

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

int change_dir(const char* path) { return sys().chdir(native_path(path).c_str()) == 0 ? 0 : -1; }

int create_exclusive(const char* path) {
  const int fd = open_native(native_path(path).c_str(), O_CREAT | O_EXCL | O_RDONLY, 0666);
  if (fd < 0) return -1;
  sys().close(fd);
  return 0;
}

namespace {

// The open(2) flags of an fopen mode ("r", "w+", "ae" ...); false when the
// mode is none.
bool open_flags(const char* mode, int* flags) {
  switch (mode[0]) {
    case 'r':
      *flags = O_RDONLY;
      break;
    case 'w':
      *flags = O_WRONLY | O_CREAT | O_TRUNC;
      break;
    case 'a':
      *flags = O_WRONLY | O_CREAT | O_APPEND;
      break;
    default:
      return false;
  }
  for (const char* c = mode + 1; *c != '\0'; ++c) {
    if (*c == '+') *flags = (*flags & ~O_ACCMODE) | O_RDWR;
    if (*c == 'e') *flags |= O_CLOEXEC;
  }
  return true;
}

}  // namespace

std::FILE* open_file(const char* path, const char* mode) {
  int flags = 0;
  if (!open_flags(mode, &flags)) {
    errno = EINVAL;
    return nullptr;
  }
  const int fd = posix::open_named(native_path(path), flags);
  if (fd < 0) return nullptr;
  // In the fault injection test mode the stream's calls go through the table.
  std::FILE* stream = posix::fault_injection_active() ? posix::table_stream(fd, mode) : ::fdopen(fd, mode);
  if (stream == nullptr) {
    const int error = errno;
    sys().close(fd);
    errno = error;
  }
  return stream;
}

long read_available(std::FILE* stream, char* buffer, std::size_t size) {
  const int fd = stream != nullptr ? ::fileno(stream) : -1;
  if (fd < 0) {
    errno = EBADF;
    return -1;
  }
  for (;;) {
    const ssize_t got = sys().read(fd, buffer, size);
    if (got >= 0) return static_cast<long>(got);
    if (errno != EINTR) return -1;
  }
}

// POSIX streams make no difference between text and binary; the one text-mode
// effect that matters (CR before LF) is TextReader's.
void set_binary_mode(std::FILE*) {}
void set_text_mode(std::FILE*) {}

// ---------------------------------------------------------------------------
// Held open for writing

namespace {

// Closes a descriptor on every way out.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) sys().close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

class Dir {
 public:
  explicit Dir(const char* path) : dir_(sys().opendir(path)) {}
  ~Dir() {
    if (dir_) closedir(dir_);
  }
  Dir(const Dir&) = delete;
  Dir& operator=(const Dir&) = delete;
  DIR* get() const { return dir_; }

 private:
  DIR* dir_;
};

bool all_digits(const char* text) {
  if (*text == '\0') return false;
  for (; *text; ++text) {
    if (*text < '0' || *text > '9') return false;
  }
  return true;
}

// What the descriptors of the processes say about one file.
enum class Scan { kWriter, kNoWriter, kUnseen };

// The access mode in /proc/PID/fdinfo/FD ("flags:" is octal): 1 for writing,
// 0 for not, -1 when it cannot be read (the descriptor may have been closed).
int fd_open_for_writing(const std::string& fdinfo_path) {
  std::FILE* file = std::fopen(fdinfo_path.c_str(), "r");
  if (file == nullptr) return -1;
  char line[256];
  int writing = -1;
  while (std::fgets(line, sizeof line, file) != nullptr) {
    if (std::strncmp(line, "flags:", 6) == 0) {
      const unsigned long flags = std::strtoul(line + 6, nullptr, 8);
      const unsigned long mode = flags & O_ACCMODE;
      writing = mode == O_WRONLY || mode == O_RDWR ? 1 : 0;
      break;
    }
  }
  std::fclose(file);
  if (writing < 0) errno = EIO;
  return writing;
}

// Looks through every process's descriptors for one that has this file open
// for writing. A process that ends meanwhile holds nothing; one whose
// descriptors may not be looked into (another user's, or every other one
// where /proc hides them) leaves the answer open.
Scan scan_for_writer(dev_t dev, ino_t ino) {
  Dir proc("/proc");
  if (proc.get() == nullptr) return Scan::kUnseen;
  // With other users' processes hidden from the listing, the first process
  // of the system is missing from it too.
  struct stat first {};
  if (sys().stat("/proc/1", &first) != 0) return Scan::kUnseen;
  bool unseen = false;
  while (const dirent* process = readdir(proc.get())) {
    if (!all_digits(process->d_name)) continue;
    const std::string fd_dir = std::string("/proc/") + process->d_name + "/fd";
    Dir fds(fd_dir.c_str());
    if (fds.get() == nullptr) {
      if (errno != ENOENT) unseen = true;
      continue;
    }
    while (const dirent* entry = readdir(fds.get())) {
      if (!all_digits(entry->d_name)) continue;
      struct stat st {};
      if (sys().stat((fd_dir + "/" + entry->d_name).c_str(), &st) != 0) continue;
      if (st.st_dev != dev || st.st_ino != ino) continue;
      const std::string info = std::string("/proc/") + process->d_name + "/fdinfo/" + entry->d_name;
      const int writing = fd_open_for_writing(info);
      if (writing == 1) return Scan::kWriter;
      if (writing < 0 && errno != ENOENT) unseen = true;
    }
  }
  return unseen ? Scan::kUnseen : Scan::kNoWriter;
}

constexpr char kDirectoryReason[] = "it is a directory";
constexpr char kUnseenReason[] =
    "no lease can be taken on it and the processes that may hold it cannot be examined";

HoldState from_scan(const struct stat& st, const char** why) {
  switch (scan_for_writer(st.st_dev, st.st_ino)) {
    case Scan::kWriter: return HoldState::kHeld;
    case Scan::kNoWriter: return HoldState::kFree;
    case Scan::kUnseen: break;
  }
  if (why != nullptr) *why = kUnseenReason;
  return HoldState::kCannotTell;
}

}  // namespace

HoldState held_open_for_writing(const char* path, const char** why) {
  const std::string native = native_path(path);
  const Fd fd(open_native(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat st {};
  if (fd.get() < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return HoldState::kMissing;
    if (sys().stat(native.c_str(), &st) != 0) {
      if (errno == ENOENT || errno == ENOTDIR) return HoldState::kMissing;
      if (why != nullptr) *why = kUnseenReason;
      return HoldState::kCannotTell;
    }
  } else if (fstat(fd.get(), &st) != 0) {
    if (why != nullptr) *why = kUnseenReason;
    return HoldState::kCannotTell;
  }
  // Nobody writes a directory; on Windows the deny-write open of one fails
  // as if it were held, and the second open that would tell fails alike.
  if (S_ISDIR(st.st_mode)) {
    if (why != nullptr) *why = kDirectoryReason;
    return HoldState::kCannotTell;
  }
  if (fd.get() < 0) return from_scan(st, why);
  // A read lease is refused with EAGAIN exactly when the file is open for
  // writing somewhere. Should a writer open it while we hold the lease, the
  // kernel signals us; SIGURG is ignored by default, where the default SIGIO
  // would end the caller.
  sys().fcntl(fd.get(), F_SETSIG, SIGURG);
  if (sys().fcntl(fd.get(), F_SETLEASE, F_RDLCK) == 0) {
    sys().fcntl(fd.get(), F_SETLEASE, F_UNLCK);
    return HoldState::kFree;
  }
  if (errno == EAGAIN) return HoldState::kHeld;
  // Leases are not available here (file system, ownership): look for a writer.
  return from_scan(st, why);
}

// ---------------------------------------------------------------------------
// Directory search

namespace {

// "*" and "?" matching per Shift_JIS character, so that "?" takes a whole
// double-byte character and a trail byte is never a wildcard. Letters match
// without regard to their case, as names do on Windows.
size_t char_length(const char* text) { return double_byte_at(text, 0) ? 2 : 1; }

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_char(const char* a, const char* b, size_t length) {
  return length == 2 ? std::memcmp(a, b, 2) == 0 : ascii_lower(*a) == ascii_lower(*b);
}

bool wildcard_match(const char* pattern, const char* name) {
  const char* star_pattern = nullptr;  // just after the last "*" seen
  const char* star_name = nullptr;     // where that "*" has matched up to
  while (*name != '\0') {
    if (*pattern == '*') {
      star_pattern = ++pattern;
      star_name = name;
      continue;
    }
    const size_t name_len = char_length(name);
    if (*pattern == '?') {
      ++pattern;
      name += name_len;
      continue;
    }
    const size_t pattern_len = *pattern ? char_length(pattern) : 0;
    if (pattern_len == name_len && same_char(pattern, name, name_len)) {
      pattern += pattern_len;
      name += name_len;
      continue;
    }
    if (star_pattern == nullptr) return false;
    pattern = star_pattern;
    star_name += char_length(star_name);
    name = star_name;
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

// As on Windows, a pattern ending in ".*" also takes names without any
// extension ("*.*" is every name, "log.*" takes "log"), and one ending in "."
// takes those ("*." is every name without an extension).
bool name_matches(const std::string& pattern, const char* name) {
  if (wildcard_match(pattern.c_str(), name)) return true;
  const size_t size = pattern.size();
  size_t cut = 0;
  if (size >= 2 && pattern.compare(size - 2, 2, ".*") == 0) {
    cut = 2;
  } else if (size >= 1 && pattern[size - 1] == '.') {
    cut = 1;
  }
  return cut > 0 && std::strchr(name, '.') == nullptr && wildcard_match(pattern.substr(0, size - cut).c_str(), name);
}

}  // namespace

int find_entries(const char* pattern, std::vector<DirEntry>* entries) {
  if (entries == nullptr) {
    errno = EINVAL;
    return -1;
  }
  entries->clear();
  const std::string native = native_path(pattern ? pattern : "");
  const size_t slash = native.rfind('/');
  std::string dir;
  std::string last;
  if (slash == std::string::npos) {
    dir = ".";
    last = native;
  } else {
    dir = slash == 0 ? "/" : native.substr(0, slash);
    last = native.substr(slash + 1);
  }
  Dir directory(dir.c_str());
  if (directory.get() == nullptr) return -1;
  while (const dirent* entry = readdir(directory.get())) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    if (!name_matches(last, name)) continue;
    DirEntry found;
    found.name = name;
    struct stat st {};
    const std::string full = dir == "/" ? "/" + found.name : dir + "/" + found.name;
    found.is_directory = sys().stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    entries->push_back(std::move(found));
  }
  return 0;
}

int any_entry_matches(const char* pattern) {
  std::vector<DirEntry> entries;
  if (find_entries(pattern, &entries) != 0) return -1;
  return entries.empty() ? 0 : 1;
}

}  // namespace port
