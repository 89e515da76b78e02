#include "port/posix/proc_scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "port/posix/syscalls.h"
#include "port/posix/unique_fd.h"

namespace port::posix {

bool read_whole(const char* path, std::string* text) {
  const UniqueFd fd = open_fd(path, O_RDONLY | O_CLOEXEC);
  if (!fd.valid()) return false;
  char buffer[4096];
  for (;;) {
    const ssize_t got = sys().read(fd.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    text->append(buffer, static_cast<std::size_t>(got));
  }
}

namespace {

bool all_digits(const char* text) {
  if (*text == '\0') return false;
  for (; *text; ++text) {
    if (*text < '0' || *text > '9') return false;
  }
  return true;
}

// The access mode in /proc/PID/fdinfo/FD ("flags:" is octal): 1 for writing,
// 0 for not, -1 when it cannot be read (the descriptor may have been closed).
// Opened by the C library, outside the call table: an open made to fail
// for the files the program names must not blind it to who holds them.
int fd_open_for_writing(const std::string& fdinfo_path) {
  std::FILE* file = std::fopen(fdinfo_path.c_str(), "re");
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

// What the process's descriptors from lowest_fd on say of the file: kWriter
// for one that is the file (open for writing, when for_writing).
Scan process_holds(const std::string& pid, dev_t dev, ino_t ino, int lowest_fd, bool for_writing) {
  const std::string fd_dir = "/proc/" + pid + "/fd";
  const UniqueDir fds(sys().opendir(fd_dir.c_str()));
  if (fds.get() == nullptr) return errno == ENOENT ? Scan::kNoWriter : Scan::kUnseen;
  bool unseen = false;
  int unseen_error = 0;
  while (const dirent* entry = sys().readdir(fds.get())) {
    if (!all_digits(entry->d_name) || std::atoi(entry->d_name) < lowest_fd) continue;
    struct stat st {};
    if (sys().stat((fd_dir + "/" + entry->d_name).c_str(), &st) != 0) continue;
    if (st.st_dev != dev || st.st_ino != ino) continue;
    if (!for_writing) return Scan::kWriter;
    const int writing = fd_open_for_writing("/proc/" + pid + "/fdinfo/" + entry->d_name);
    if (writing == 1) return Scan::kWriter;
    if (writing < 0 && errno != ENOENT) {
      unseen = true;
      unseen_error = errno;
    }
  }
  errno = unseen_error;
  return unseen ? Scan::kUnseen : Scan::kNoWriter;
}

}  // namespace

Scan process_writes(const std::string& pid, dev_t dev, ino_t ino, int lowest_fd) {
  return process_holds(pid, dev, ino, lowest_fd, true);
}

std::vector<long> processes_with_open(dev_t dev, ino_t ino) {
  std::vector<long> holders;
  const UniqueDir proc(sys().opendir("/proc"));
  if (proc.get() == nullptr) return holders;
  while (const dirent* process = sys().readdir(proc.get())) {
    if (all_digits(process->d_name) && process_holds(process->d_name, dev, ino, 0, false) == Scan::kWriter) {
      holders.push_back(std::strtol(process->d_name, nullptr, 10));
    }
  }
  return holders;
}

// A process that ends meanwhile holds nothing; one whose descriptors may not
// be looked into (another user's, or every other one where /proc hides them)
// leaves the answer open.
Scan scan_for_writer(dev_t dev, ino_t ino, std::vector<long>* writers, int lowest_fd) {
  const UniqueDir proc(sys().opendir("/proc"));
  if (proc.get() == nullptr) return Scan::kUnseen;
  // With other users' processes hidden from the listing, the first process
  // of the system is missing from it too (unless this one is it, in a
  // namespace of its own: the mount says so then).
  struct stat first {};
  if (sys().stat("/proc/1", &first) != 0 || proc_hides_others()) return Scan::kUnseen;
  bool unseen = false;
  bool found = false;
  while (const dirent* process = sys().readdir(proc.get())) {
    if (!all_digits(process->d_name)) continue;
    switch (process_writes(process->d_name, dev, ino, lowest_fd)) {
      case Scan::kWriter:
        if (writers == nullptr) return Scan::kWriter;
        found = true;
        writers->push_back(std::strtol(process->d_name, nullptr, 10));
        break;
      case Scan::kUnseen: unseen = true; break;
      case Scan::kNoWriter: break;
    }
  }
  if (found) return Scan::kWriter;
  return unseen ? Scan::kUnseen : Scan::kNoWriter;
}

bool read_proc_stat(long pid, ProcStat* out) {
  const std::string path = "/proc/" + std::to_string(pid) + "/stat";
  const UniqueFd fd = open_fd(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (!fd.valid()) return false;
  char text[1024];
  ssize_t got;
  do {
    got = sys().read(fd.get(), text, sizeof text - 1);
  } while (got < 0 && errno == EINTR);
  if (got <= 0) {
    if (got == 0) errno = ESRCH;
    return false;
  }
  text[got] = '\0';
  // The name stands in parentheses and may itself hold blanks and ")".
  const char* open = std::strchr(text, '(');
  const char* close = std::strrchr(text, ')');
  if (open == nullptr || close == nullptr || close < open || close[1] != ' ') {
    errno = EIO;
    return false;
  }
  out->name.assign(open + 1, close);
  // The fields after the name, from the state (field 3) on: the group is
  // field 5, the start in ticks since boot field 22.
  const char* field = close + 2;
  unsigned long long start_ticks = 0;
  for (int number = 3; number <= 22 && *field != '\0'; ++number) {
    if (number == 3) out->state = *field;
    if (number == 5) out->group = std::strtol(field, nullptr, 10);
    if (number == 22) start_ticks = std::strtoull(field, nullptr, 10);
    field = std::strchr(field, ' ');
    if (field == nullptr) {
      if (number < 22) {
        errno = EIO;
        return false;
      }
      break;
    }
    ++field;
  }
  // The start counts from the boot, in the clock that goes on in suspend:
  // the boot's wall-clock time is the difference of the two clocks now.
  const long ticks = sysconf(_SC_CLK_TCK);
  timespec real{}, boot{};
  if (ticks <= 0 || clock_gettime(CLOCK_REALTIME, &real) != 0 || clock_gettime(CLOCK_BOOTTIME, &boot) != 0) {
    errno = EIO;
    return false;
  }
  const long double booted = (real.tv_sec - boot.tv_sec) + (real.tv_nsec - boot.tv_nsec) / 1e9L;
  const long double started = booted + static_cast<long double>(start_ticks) / ticks;
  out->start.tv_sec = static_cast<time_t>(started);
  out->start.tv_nsec = static_cast<long>((started - out->start.tv_sec) * 1e9L);
  return true;
}

bool started_after(const timespec& start, const struct stat& file) {
  constexpr time_t kCoarseTimes = 2;
  const timespec& written = file.st_mtim;
  const time_t limit = written.tv_sec + kCoarseTimes;
  return start.tv_sec > limit || (start.tv_sec == limit && start.tv_nsec > written.tv_nsec);
}

namespace {

// The word of a line of mountinfo at this place (from 0), "" past its end.
std::string word_at(const std::string& line, int place) {
  std::size_t start = 0;
  for (int i = 0; i < place; ++i) {
    start = line.find(' ', start);
    if (start == std::string::npos) return "";
    ++start;
  }
  return line.substr(start, line.find(' ', start) - start);
}

}  // namespace

bool proc_hides_others() {
  if (::geteuid() == 0) return false;
  std::string mounts;
  // Where the mounts cannot be read, nothing says the listing is whole.
  if (!read_whole("/proc/self/mountinfo", &mounts)) return true;
  bool hides = false;
  std::size_t start = 0;
  while (start < mounts.size()) {
    std::size_t end = mounts.find('\n', start);
    if (end == std::string::npos) end = mounts.size();
    const std::string line = mounts.substr(start, end - start);
    start = end + 1;
    // "ID PARENT DEV ROOT MOUNTPOINT OPTIONS [FIELDS...] - TYPE SOURCE SUPEROPTIONS"
    const std::size_t dash = line.find(" - ");
    if (dash == std::string::npos || word_at(line, 4) != "/proc") continue;
    const std::string tail = line.substr(dash + 3);
    if (word_at(tail, 0) != "proc") continue;
    // The last mount on /proc is the one in sight.
    const std::string options = "," + word_at(tail, 2) + ",";
    const std::size_t at = options.find(",hidepid=");
    const std::string value = at == std::string::npos ? "" : options.substr(at + 9);
    hides = at != std::string::npos && value.rfind("0,", 0) != 0 && value.rfind("off,", 0) != 0;
  }
  return hides;
}

}  // namespace port::posix
