// The built-in commands the system's command lines use, with the Windows
// interpreter's messages, so that callers and their logs read alike on both
// targets.
#include "port/posix/cmd/builtins.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "port/file.h"
#include "port/posix/cmd/messages.h"
#include "port/posix/path.h"

namespace port::posix::cmd {

namespace {

const std::string kSyntax = std::string(kSyntaxMessage) + "\n";
const std::string kAccessDenied = std::string(kAccessDeniedMessage) + "\n";

// The message for a failed file operation: a file in use cannot be removed
// either.
std::string file_failure_text(int error) { return error == EBUSY ? kAccessDenied : failure_text(error); }

bool equals_any_case(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

// Options are "/" and one letter. A longer word beginning with "/" is a
// POSIX path, which the system's lines pass to del and rmdir all the time.
bool is_option(const std::string& word) {
  return word.size() == 2 && word[0] == '/' && std::isalpha(static_cast<unsigned char>(word[1]));
}

// Reads options (letters allowed in `known`, any case) and the other words.
// Returns false after reporting an unknown option.
bool read_words(const std::vector<std::string>& words, const char* known, std::string* options,
                std::vector<std::string>* names, int err_fd) {
  for (std::size_t i = 1; i < words.size(); ++i) {
    if (!is_option(words[i])) {
      names->push_back(words[i]);
      continue;
    }
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(words[i][1])));
    if (std::strchr(known, letter) == nullptr) {
      write_all(err_fd, "Invalid switch - \"" + words[i].substr(1) + "\".\n");
      return false;
    }
    options->push_back(letter);
  }
  return true;
}

bool has_option(const std::string& options, char letter) { return options.find(letter) != std::string::npos; }

// ---- type -------------------------------------------------------------------

int copy_file(const std::string& name, int out_fd, int err_fd) {
  const std::string path = native_path(name.c_str());
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    write_all(err_fd, file_failure_text(errno));
    return 1;
  }
  int status = 0;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
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
    if (!write_all(out_fd, std::string(buffer, static_cast<std::size_t>(got)))) {
      // The reader has gone (a pipe closed early): nothing more to do.
      status = 1;
      break;
    }
  }
  ::close(fd);
  return status;
}

int type_command(const std::vector<std::string>& words, int out_fd, int err_fd) {
  if (words.size() < 2) {
    write_all(err_fd, kSyntax);
    return 1;
  }
  int status = 0;
  for (std::size_t i = 1; i < words.size(); ++i) {
    if (copy_file(words[i], out_fd, err_fd) != 0) {
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
    if (::lstat(path.c_str(), &target.info) == 0 && !S_ISDIR(target.info.st_mode)) {
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
    if (!entry.is_directory && ::lstat(target.path.c_str(), &target.info) == 0 && !S_ISDIR(target.info.st_mode)) {
      found.push_back(std::move(target));
    }
  }
  return found;
}

// del [/F] [/Q] names...
// Without /Q the Windows interpreter asks before deleting all of a
// pattern's matches. Nobody is there to answer when a program runs a line, so
// the question is never asked: /Q is accepted and changes nothing.
int del_command(const std::vector<std::string>& words, int err_fd) {
  std::string options;
  std::vector<std::string> names;
  if (!read_words(words, "FQ", &options, &names, err_fd)) {
    return 1;
  }
  if (names.empty()) {
    write_all(err_fd, kSyntax);
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
      if (!has_wildcard(path) && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
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
        write_all(err_fd, target.display + "\n" + kAccessDenied);
        status = 1;
        continue;
      }
      if (::unlink(target.path.c_str()) != 0) {
        write_all(err_fd, target.display + "\n" + file_failure_text(errno));
        status = 1;
      }
    }
  }
  return status;
}

// ---- rmdir ------------------------------------------------------------------

// Removes the tree under a directory and the directory, going on past what
// cannot be removed and reporting each failure. Links are removed, never
// followed.
bool remove_tree(const std::string& dir, int err_fd) {
  bool ok = true;
  if (DIR* stream = ::opendir(dir.c_str())) {
    std::vector<std::string> children;
    while (const dirent* entry = ::readdir(stream)) {
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
        children.push_back(dir + "/" + entry->d_name);
      }
    }
    ::closedir(stream);
    for (const std::string& child : children) {
      struct stat info {};
      if (::lstat(child.c_str(), &info) != 0) {
        continue;  // gone meanwhile
      }
      if (S_ISDIR(info.st_mode)) {
        ok = remove_tree(child, err_fd) && ok;
      } else if (::unlink(child.c_str()) != 0 && errno != ENOENT) {
        write_all(err_fd, child + " - " + file_failure_text(errno));
        ok = false;
      }
    }
  } else {
    write_all(err_fd, dir + " - " + file_failure_text(errno));
    return false;
  }
  if (::rmdir(dir.c_str()) != 0) {
    if (ok) {
      write_all(err_fd, dir + " - " + file_failure_text(errno));
    }
    return false;
  }
  return ok;
}

// rmdir [/S] [/Q] dirs...
// /S without /Q would ask first on Windows; as with del, nobody is there to
// answer, so it is taken as asked and answered.
int rmdir_command(const std::vector<std::string>& words, int err_fd) {
  std::string options;
  std::vector<std::string> names;
  if (!read_words(words, "SQ", &options, &names, err_fd)) {
    return 1;
  }
  if (names.empty()) {
    write_all(err_fd, kSyntax);
    return 1;
  }
  int status = 0;
  for (const std::string& name : names) {
    std::string path = native_path(name.c_str());
    while (path.size() > 1 && path.back() == '/') {
      path.pop_back();
    }
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
      const int error = errno;
      write_all(err_fd, file_failure_text(error));
      status = error == ENOENT ? 2 : 1;
      continue;
    }
    if (!S_ISDIR(info.st_mode)) {
      write_all(err_fd, "The directory name is invalid.\n");
      status = 1;
      continue;
    }
    if (has_option(options, 'S')) {
      if (!remove_tree(path, err_fd)) {
        status = 1;
      }
    } else if (::rmdir(path.c_str()) != 0) {
      write_all(err_fd, errno == ENOTEMPTY || errno == EEXIST ? std::string("The directory is not empty.\n")
                                                              : file_failure_text(errno));
      status = 1;
    }
  }
  return status;
}

}  // namespace

bool write_all(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
    if (put < 0 && errno == EINTR) {
      continue;
    }
    if (put <= 0) {
      return false;
    }
    done += static_cast<std::size_t>(put);
  }
  return true;
}

bool is_builtin(const std::string& name) {
  return equals_any_case(name, "type") || equals_any_case(name, "del") || equals_any_case(name, "erase") ||
         equals_any_case(name, "rmdir") || equals_any_case(name, "rd");
}

int run_builtin(const std::vector<std::string>& words, int out_fd, int err_fd) {
  const std::string& name = words.front();
  if (equals_any_case(name, "type")) {
    return type_command(words, out_fd, err_fd);
  }
  if (equals_any_case(name, "del") || equals_any_case(name, "erase")) {
    return del_command(words, err_fd);
  }
  return rmdir_command(words, err_fd);
}

}  // namespace port::posix::cmd
