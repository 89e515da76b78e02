// The built-in commands the system's command lines use, with the Windows
// interpreter's messages, so that callers and their logs read alike on both
// targets.
#include "port/posix/cmd/builtins.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdint>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "port/dir_wildcard.h"
#include "port/posix/cmd/messages.h"
#include "port/posix/cmd/parse.h"
#include "port/posix/named_file.h"
#include "port/posix/path.h"
#include "port/posix/syscalls.h"

namespace port::posix::cmd {

namespace {

// Lines made when said, never before main: every program of the one POSIX
// program file would pay for them at its start.
std::string syntax_line() { return std::string(kSyntaxMessage) + "\n"; }
std::string access_denied_line() { return std::string(kAccessDeniedMessage) + "\n"; }

// The message for a failed file operation: a file in use cannot be removed
// either.
std::string file_failure_text(int error) { return error == EBUSY ? access_denied_line() : failure_text(error); }

bool equals_any_case(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

// A switch is an unquoted "/" and one of the command's own letters (any
// case). Any other word is a name: "/srv/g" is a POSIX path, and "/P" a name
// too, so that a path is never dropped as an option it happens to spell.
bool is_switch(const BuiltinWord& word, const char* known) {
  return !word.quoted && word.text.size() == 2 && word.text[0] == '/' && word.text[1] != '\0' &&
         std::strchr(known, std::toupper(static_cast<unsigned char>(word.text[1]))) != nullptr;
}

// Reads the switches (letters allowed in `known`) and the names.
void read_words(const std::vector<BuiltinWord>& words, const char* known, std::string* options,
                std::vector<std::string>* names) {
  for (std::size_t i = 1; i < words.size(); ++i) {
    if (is_switch(words[i], known)) {
      options->push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(words[i].text[1]))));
    } else {
      names->push_back(words[i].text);
    }
  }
}

bool has_option(const std::string& options, char letter) { return options.find(letter) != std::string::npos; }

// ---- type -------------------------------------------------------------------

// True when both descriptors reach one file: appending a file to itself
// would never reach its end and fill the disk.
// Writes all of the bytes to the descriptor: 0, or the errno of the failure.
int write_bytes(int fd, const char* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t put = sys().write(fd, data + done, size - done);
    if (put < 0 && errno == EINTR) {
      continue;
    }
    if (put < 0) {
      return errno;
    }
    if (put == 0) {
      return EIO;
    }
    done += static_cast<std::size_t>(put);
  }
  return 0;
}

bool same_file(int in_fd, int out_fd) {
  struct stat in_info {};
  struct stat out_info {};
  return sys().fstat(in_fd, &in_info) == 0 && sys().fstat(out_fd, &out_info) == 0 && S_ISREG(out_info.st_mode) &&
         in_info.st_dev == out_info.st_dev && in_info.st_ino == out_info.st_ino;
}

int copy_file(const std::string& name, int out_fd, int err_fd) {
  const UniqueFd fd = open_line_file(name, O_RDONLY | O_CLOEXEC);
  if (!fd.valid()) {
    write_all(err_fd, file_failure_text(errno));
    return 1;
  }
  if (same_file(fd.get(), out_fd)) {
    write_all(err_fd, name + ": " + kSameFileMessage + "\n");
    return 1;
  }
  int status = 0;
  // On the heap: the interpreter may run with a stack no larger than this.
  constexpr std::size_t kCopySize = 65536;
  const std::unique_ptr<char[]> buffer(new (std::nothrow) char[kCopySize]);
  if (buffer == nullptr) {
    write_all(err_fd, failure_text(ENOMEM));
    return 1;
  }
  for (;;) {
    const ssize_t got = sys().read(fd.get(), buffer.get(), kCopySize);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      write_all(err_fd, file_failure_text(errno));
      status = 1;
      break;
    }
    if (got == 0) {
      break;
    }
    if (const int error = write_bytes(out_fd, buffer.get(), static_cast<std::size_t>(got))) {
      // A reader that has gone (a pipe closed early) is the normal end of a
      // pipeline and not worth a word; any other failure loses output.
      if (error != EPIPE) {
        write_all(err_fd, failure_text(error));
      }
      status = 1;
      break;
    }
  }
  return status;
}

int type_command(const std::vector<BuiltinWord>& words, int out_fd, int err_fd) {
  if (words.size() < 2) {
    write_all(err_fd, syntax_line());
    return 1;
  }
  int status = 0;
  for (std::size_t i = 1; i < words.size(); ++i) {
    if (copy_file(words[i].text, out_fd, err_fd) != 0) {
      status = 1;
    }
  }
  return status;
}

// ---- del --------------------------------------------------------------------

bool has_wildcard(const std::string& part) { return part.find_first_of("*?") != std::string::npos; }

struct Target {
  std::string path;     // for the file system
  std::string display;  // for messages, as the line wrote it
  struct stat info {};
};

// The files a name or pattern stands for. Directories never count.
std::vector<Target> files_for(const std::string& name) {
  std::vector<Target> found;
  const std::string path = native_path(name.c_str());
  const std::size_t slash = path.rfind('/');
  const std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
  if (!has_wildcard(last)) {
    Target target{path, name, {}};
    if (sys().lstat(path.c_str(), &target.info) == 0 && !S_ISDIR(target.info.st_mode)) {
      found.push_back(std::move(target));
    }
    return found;
  }
  // Patterns match as the directory search of the programs does.
  std::vector<port::DirEntry> entries;
  if (port::find_entries(name.c_str(), &entries) != 0) {
    return found;
  }
  const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string display_dir = slash == std::string::npos ? "" : name.substr(0, slash + 1);
  for (const port::DirEntry& entry : entries) {
    Target target{dir + entry.name, display_dir + entry.name, {}};
    if (!entry.is_directory && sys().lstat(target.path.c_str(), &target.info) == 0 && !S_ISDIR(target.info.st_mode)) {
      found.push_back(std::move(target));
    }
  }
  return found;
}

// del [/F] [/Q] names...
// Without /Q the Windows interpreter asks before deleting all of a
// pattern's matches. Nobody is there to answer when a program runs a line, so
// the question is never asked: /Q is accepted and changes nothing.
int del_command(const std::vector<BuiltinWord>& words, int err_fd) {
  std::string options;
  std::vector<std::string> names;
  read_words(words, "FQ", &options, &names);
  if (names.empty()) {
    write_all(err_fd, syntax_line());
    return 1;
  }
  const bool force = has_option(options, 'F');
  int status = 0;
  for (const std::string& name : names) {
    const std::vector<Target> targets = files_for(name);
    if (targets.empty()) {
      // Windows would empty a directory named here; this interpreter deletes
      // files only and says so rather than pretending it found nothing.
      struct stat info {};
      const std::string path = native_path(name.c_str());
      if (!has_wildcard(path) && sys().stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        write_all(err_fd, name + " is a directory: only files are deleted.\n");
        status = 1;
        continue;
      }
      write_all(err_fd, "Could Not Find " + name + "\n");
      status = 1;
      continue;
    }
    for (const Target& target : targets) {
      // The owner's write bit is this system's read-only attribute: without
      // /F such a file stays, as on Windows (on POSIX the directory's
      // permission alone would let it go).
      if (!force && !S_ISLNK(target.info.st_mode) && (target.info.st_mode & S_IWUSR) == 0) {
        write_all(err_fd, target.display + "\n" + access_denied_line());
        status = 1;
        continue;
      }
      if (sys().unlink(target.path.c_str()) != 0) {
        write_all(err_fd, target.display + "\n" + file_failure_text(errno));
        status = 1;
      }
    }
  }
  return status;
}

// ---- rmdir ------------------------------------------------------------------

// The path with its "." parts and repeated or trailing separators gone, as
// Windows reads it, so that "lnk\." and "lnk\.\" name the link "lnk"
// itself, never what it points to. A ".." is left to the kernel, unlike
// Windows, which takes back the part before it by the text alone: a name
// the file system gave (a directory called "g\..", a link followed by "..")
// would otherwise lead the removal into another directory than the one the
// kernel reaches by the same path.
std::string without_dot_parts(const std::string& path) {
  const bool absolute = !path.empty() && path[0] == '/';
  std::string joined = absolute ? "/" : "";
  std::size_t pos = 0;
  while (pos <= path.size()) {
    std::size_t end = path.find('/', pos);
    if (end == std::string::npos) {
      end = path.size();
    }
    const std::string part = path.substr(pos, end - pos);
    pos = end + 1;
    if (part.empty() || part == ".") {
      continue;
    }
    if (!joined.empty() && joined.back() != '/') {
      joined += '/';
    }
    joined += part;
  }
  return joined.empty() ? "." : joined;
}

// Opens a directory entry as a directory, never through a link.
UniqueFd open_subdir(int dir_fd, const char* name) {
  return open_fd_at(dir_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
}

bool same_dir(int fd, const struct stat& expected) {
  struct stat info {};
  return sys().fstat(fd, &info) == 0 && info.st_dev == expected.st_dev && info.st_ino == expected.st_ino;
}

// One directory of the walk: what it is, how its parent names it, and the
// names it held when it was read.
struct Level {
  struct stat info {};
  std::string name;
  std::vector<std::string> children;
  std::size_t next = 0;
  bool ok = true;
};

// The names in the open directory (the descriptor stays open).
bool read_names(int dir_fd, std::vector<std::string>* names) {
  UniqueFd copy(sys().fcntl(dir_fd, F_DUPFD_CLOEXEC, 0));
  const UniqueDir stream(copy.valid() ? sys().fdopendir(copy.get()) : nullptr);
  if (stream.get() == nullptr) {
    return false;
  }
  copy.release();  // the directory stream's now
  while (const dirent* entry = sys().readdir(stream.get())) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      names->push_back(entry->d_name);
    }
  }
  return true;
}

// The mount the open file is on. A bind mount of a file system has the
// device of that file system, so the mount id tells it; a kernel without
// mount ids gives the device alone.
bool mount_of(int fd, std::uint64_t* mount) {
  struct statx info {};
  if (sys().statx(fd, "", AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW, STATX_MNT_ID, &info) == 0 &&
      (info.stx_mask & STATX_MNT_ID) != 0) {
    *mount = info.stx_mnt_id;
    return true;
  }
  struct stat st {};
  if (sys().fstat(fd, &st) != 0) {
    return false;
  }
  *mount = static_cast<std::uint64_t>(st.st_dev) | (std::uint64_t{1} << 63);
  return true;
}

class TreeRemoval {
 public:
  TreeRemoval(const std::string& display, int err_fd) : display_(display), err_fd_(err_fd) {}

  // Removes the directory `name` of the open directory parent_fd and all
  // under it. The walk holds two descriptors whatever the depth: it goes
  // down by opening each subdirectory without following links, and back up
  // by "..", checked to be the directory it came from, so that a directory
  // swapped for a link or moved away meanwhile never leads it out of the
  // tree. Failures are reported and the walk goes on past them.
  // Long as one piece: the two descriptors and the way back up are the
  // walk's safety, and each turn of it must see them as one.
  bool remove(int parent_fd, const std::string& name) {
    UniqueFd fd = open_subdir(parent_fd, name.c_str());
    if (fd.valid() && (!mount_of(parent_fd, &mount_) || !on_tree_mount(fd.get()))) {
      write_all(err_fd_, path_of(name) + " - " + kMountPointMessage + "\n");
      return false;
    }
    if (!fd.valid() || !push(fd.get(), name)) {
      report(name, errno);
      return false;
    }
    while (!levels_.empty()) {
      Level& level = levels_.back();
      if (level.next < level.children.size()) {
        const std::string child = level.children[level.next++];  // a copy: push() may move the levels
        UniqueFd sub = open_subdir(fd.get(), child.c_str());
        if (sub.valid() && !on_tree_mount(sub.get())) {
          // Another file system (or a bind mount of this one) is mounted
          // here: what it leads to is not the tree's, and the mount point
          // itself cannot be removed. It stays, and so do the directories
          // above it.
          write_all(err_fd_, path_of(child) + " - " + kMountPointMessage + "\n");
          levels_.back().ok = false;
          continue;
        }
        if (sub.valid()) {
          if (push(sub.get(), child)) {
            fd = std::move(sub);
          } else {
            fail_here(child, errno);
          }
          continue;
        }
        if (errno == ENOENT) {
          continue;  // gone meanwhile
        }
        if (errno != ENOTDIR && errno != ELOOP) {
          fail_here(child, errno);
          continue;
        }
        if (sys().unlinkat(fd.get(), child.c_str(), 0) != 0 && errno != ENOENT) {
          fail_here(child, errno);
        }
        continue;
      }
      // Every entry done: back to the parent, then this directory goes.
      const Level done = std::move(levels_.back());
      levels_.pop_back();
      // The parent: a directory of the walk, or the caller's own at the top.
      UniqueFd up;
      int up_fd = parent_fd;
      if (!levels_.empty()) {
        up = open_subdir(fd.get(), "..");
        if (!up.valid() || !same_dir(up.get(), levels_.back().info)) {
          write_all(err_fd_, path_of(done.name) + " - " + kTreeChangedMessage + "\n");
          levels_.clear();
          return false;
        }
        up_fd = up.get();
      }
      fd = std::move(up);
      bool ok = done.ok;
      if (sys().unlinkat(up_fd, done.name.c_str(), AT_REMOVEDIR) != 0) {
        if (ok) {
          report(done.name, errno);
        }
        ok = false;
      }
      if (!levels_.empty()) {
        levels_.back().ok = levels_.back().ok && ok;
      } else {
        return ok;
      }
    }
    return false;
  }

 private:
  bool push(int fd, const std::string& name) {
    Level level;
    level.name = name;
    if (sys().fstat(fd, &level.info) != 0 || !read_names(fd, &level.children)) {
      return false;
    }
    levels_.push_back(std::move(level));
    return true;
  }

  // The path of an entry of the current directory, for messages only (the
  // top directory as the line named it).
  std::string path_of(const std::string& name) const {
    if (levels_.empty()) {
      return display_;
    }
    std::string path = display_;
    for (std::size_t i = 1; i < levels_.size(); ++i) {
      path += "/" + levels_[i].name;
    }
    return path + "/" + name;
  }

  void report(const std::string& name, int error) {
    write_all(err_fd_, path_of(name) + " - " + file_failure_text(error));
  }
  void fail_here(const std::string& name, int error) {
    report(name, error);
    levels_.back().ok = false;
  }

  // Whether the open directory is on the file system the removal started
  // on (false too when that cannot be told).
  bool on_tree_mount(int fd) const {
    std::uint64_t mount = 0;
    return mount_of(fd, &mount) && mount == mount_;
  }

  std::string display_;
  int err_fd_;
  std::vector<Level> levels_;
  std::uint64_t mount_ = 0;  // of the directory that holds the tree
};

// rmdir [/S] [/Q] dirs...
// /S without /Q would ask first on Windows; as with del, nobody is there to
// answer, so it is taken as asked and answered.
int rmdir_command(const std::vector<BuiltinWord>& words, int err_fd) {
  std::string options;
  std::vector<std::string> names;
  read_words(words, "SQ", &options, &names);
  if (names.empty()) {
    write_all(err_fd, syntax_line());
    return 1;
  }
  int status = 0;
  for (const std::string& name : names) {
    const std::string path = without_dot_parts(native_path(name.c_str()));
    const std::size_t slash = path.rfind('/');
    const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
    // "x\.." is a directory above the one named: which one depends on
    // whether x is a link, and it is no directory the line meant to remove.
    if (last == "..") {
      write_all(err_fd, name + " - " + kParentPathMessage + "\n");
      status = 1;
      continue;
    }
    // The directory is handled by its name in its parent, so that the name
    // is never a link followed.
    const UniqueFd parent_fd = open_fd(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat info {};
    if (!parent_fd.valid() || last.empty() ||
        sys().fstatat(parent_fd.get(), last.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      const int error = last.empty() ? EACCES : errno;
      write_all(err_fd, file_failure_text(error));
      status = error == ENOENT ? 2 : 1;
    } else if (!S_ISDIR(info.st_mode)) {
      write_all(err_fd, "The directory name is invalid.\n");
      status = 1;
    } else if (has_option(options, 'S')) {
      if (!TreeRemoval(name, err_fd).remove(parent_fd.get(), last)) {
        status = 1;
      }
    } else if (sys().unlinkat(parent_fd.get(), last.c_str(), AT_REMOVEDIR) != 0) {
      write_all(err_fd, errno == ENOTEMPTY || errno == EEXIST ? std::string("The directory is not empty.\n")
                                                              : file_failure_text(errno));
      status = 1;
    }
  }
  return status;
}

}  // namespace

UniqueFd open_line_file(const std::string& name, int flags) {
  if (is_null_device(name)) return open_fd("/dev/null", flags);
  return UniqueFd(open_named(native_path(name.c_str()), flags));
}

bool write_all(int fd, const std::string& text) { return write_bytes(fd, text.data(), text.size()) == 0; }

bool is_builtin(const std::string& name) {
  return equals_any_case(name, "type") || equals_any_case(name, "del") || equals_any_case(name, "erase") ||
         equals_any_case(name, "rmdir") || equals_any_case(name, "rd");
}

int run_builtin(const std::vector<BuiltinWord>& words, int out_fd, int err_fd) {
  const std::string& name = words.front().text;
  if (equals_any_case(name, "type")) {
    return type_command(words, out_fd, err_fd);
  }
  if (equals_any_case(name, "del") || equals_any_case(name, "erase")) {
    return del_command(words, err_fd);
  }
  return rmdir_command(words, err_fd);
}

}  // namespace port::posix::cmd
