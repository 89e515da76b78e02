#pragma once
// What /proc tells about other processes: which files they hold open for
// writing, when they started, their names and working directories. Shared by
// the held-open test, the checks of a process named in a pid file and the
// lock's word on who holds it.
#include <sys/stat.h>
#include <sys/types.h>

#include <ctime>
#include <string>
#include <vector>

namespace port::posix {

// What the descriptors of processes say about one file.
enum class Scan { kWriter, kNoWriter, kUnseen };

// Whether the process /proc/<pid> has the file (device, inode) open for
// writing, on a descriptor from lowest_fd on. kUnseen, with errno, when its
// descriptors cannot be looked into.
Scan process_writes(const std::string& pid, dev_t dev, ino_t ino, int lowest_fd = 0);

// Every process: kWriter as soon as one writes the file (all of them when
// writers is given, their ids appended there), on a descriptor from
// lowest_fd on.
Scan scan_for_writer(dev_t dev, ino_t ino, std::vector<long>* writers = nullptr, int lowest_fd = 0);

// The processes with a descriptor of the file, whatever its access; those
// whose descriptors cannot be looked into are passed over.
std::vector<long> processes_with_open(dev_t dev, ino_t ino);

// The whole of a small file of /proc, read through the call table; false with
// errno when it cannot be read.
bool read_whole(const char* path, std::string* text);

// What /proc/PID/stat says of a process (readable for every user).
struct ProcStat {
  std::string name;  // the name (comm), at most 15 bytes
  char state = '?';
  long group = 0;    // process group
  timespec start{};  // wall-clock start, to the kernel's tick
};
// false with errno (ENOENT: no such process).
bool read_proc_stat(long pid, ProcStat* stat);

// Whether the process started later than the file was last written, with two
// seconds allowed for file systems that keep coarse times.
bool started_after(const timespec& start, const struct stat& file);

// Whether /proc keeps other users' processes out of this one's sight: mounted
// with hidepid, for a caller that is not root. Their absence from it then
// says nothing about them.
bool proc_hides_others();

}  // namespace port::posix
