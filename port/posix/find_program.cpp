// Finding a program's file from the first word of a command line: the running
// program's own folder first, so that the system's programs find each other
// (and "cmd"), then the current directory, then PATH.
#include "port/posix/find_program.h"

#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <system_error>
#include <vector>

#include "port/change_rule.h"
#include "port/file.h"
#include "port/posix/path.h"
#include "port/posix/syscalls.h"
#include "port/text.h"

namespace port::posix {

namespace {

enum class Probe { kMissing, kNotRunnable, kRunnable };

// Results are absolute: a child started in another working directory
// would otherwise look for a relative path from there.
std::string absolute(const std::string& path);

Probe probe(const std::string& path) {
  struct stat info {};
  if (sys().stat(path.c_str(), &info) != 0) {
    return Probe::kMissing;
  }
  if (!S_ISREG(info.st_mode) || sys().access(path.c_str(), X_OK) != 0) {
    return Probe::kNotRunnable;
  }
  return Probe::kRunnable;
}

// The word as given and, when it ends in ".exe" (any case), without it:
// callers write the Windows program names.
std::vector<std::string> candidates(const std::string& word) {
  std::vector<std::string> names{word};
  if (word.size() > 4 && strcasecmp(word.c_str() + word.size() - 4, ".exe") == 0) {
    names.push_back(word.substr(0, word.size() - 4));
  }
  return names;
}

// A "\\" counts only outside double-byte characters, whose second byte may be
// 0x5C.
bool has_separator(const std::string& word) {
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (port::double_byte_at(word, i)) {
      ++i;
    } else if (word[i] == '/' || word[i] == '\\') {
      return true;
    }
  }
  return false;
}

// Whether nobody but the running user and root could have put the file in
// its place (port/change_rule.h): another user could have planted a program
// for root, or for the user whose tools run there, to run.
bool nobody_else_could_plant(const std::string& file) {
  PathVerdict verdict;
  return judge_path(file.c_str(), &verdict) == 0 && verdict.exposure == Exposure::kNone;
}

std::string join(const std::string& dir, const std::string& name) {
  if (dir.empty() || dir.back() == '/') {
    return dir + name;
  }
  return dir + "/" + name;
}

std::string current_dir() {
  std::string dir;
  return current_directory(&dir) == 0 ? dir : ".";
}

std::string absolute(const std::string& path) {
  return !path.empty() && path[0] == '/' ? path : join(current_dir(), path);
}

}  // namespace

// With the plain calls rather than the C++ file system library, whose
// machinery (streams, locales) every program would otherwise carry and set
// up at its start.
std::string own_program_dir() {
  std::string self(256, '\0');
  for (;;) {
    const ssize_t length = sys().readlink("/proc/self/exe", self.data(), self.size());
    if (length < 0) return "";
    if (static_cast<std::size_t>(length) < self.size()) {
      self.resize(static_cast<std::size_t>(length));
      break;
    }
    self.resize(self.size() * 2);
  }
  const std::size_t slash = self.rfind('/');
  if (slash == std::string::npos) return "";
  return slash == 0 ? std::string("/") : self.substr(0, slash);
}

// Long as one piece: the order of the places searched (own folder, the
// current directory, each PATH entry, each judged by who can change it) is
// the search, and reads best in one list.
int find_program(const std::string& word, std::string* resolved) {
  if (word.empty()) {
    return ENOENT;
  }
  if (has_separator(word)) {
    // A path names its file; the ".exe" ending is dropped here too, so that a
    // Windows tool path written in a setting reaches the POSIX program.
    int failure = ENOENT;
    for (const std::string& name : candidates(native_path(word.c_str()))) {
      switch (probe(name)) {
        case Probe::kRunnable:
          *resolved = absolute(name);
          return 0;
        case Probe::kNotRunnable:
          if (failure == ENOENT) {
            failure = EACCES;
          }
          break;
        case Probe::kMissing:
          break;
      }
    }
    return failure;
  }

  // Each directory to search, and whether it is to be judged by who could
  // have put a program there: all but the running program's own.
  std::vector<std::pair<std::string, bool>> dirs;
  const std::string own = own_program_dir();
  if (!own.empty()) {
    dirs.emplace_back(own, false);
  }
  const std::string here = current_dir();
  dirs.emplace_back(here, true);
  if (const char* path = sys().getenv("PATH")) {
    // An empty entry means the current directory, as POSIX shells read it; a
    // relative one names a directory from there.
    std::string value(path);
    std::size_t start = 0;
    for (;;) {
      const std::size_t colon = value.find(':', start);
      std::string entry = value.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
      // A Windows-style entry names the same directory.
      if (entry.empty()) {
        dirs.emplace_back(here, true);
      } else {
        dirs.emplace_back(absolute(native_path(entry.c_str())), true);
      }
      if (colon == std::string::npos) {
        break;
      }
      start = colon + 1;
    }
  }
  const std::vector<std::string> names = candidates(word);
  for (const auto& [dir, judged] : dirs) {
    for (const std::string& name : names) {
      std::string path = join(dir, name);
      if (probe(path) == Probe::kRunnable && (!judged || nobody_else_could_plant(path))) {
        *resolved = absolute(path);
        return 0;
      }
    }
  }
  return ENOENT;
}

}  // namespace port::posix
