#pragma once
// What the cycle command keeps of its cycles in the gatherer directory, and
// its line in the system log: the record of the cycle it began (before it
// starts anything), and the record of the last cycle it ended, which the
// status command reads.
#include <string>

#include "admin/common/diagnostics.h"

// A moment as the records keep it: the local time for people, and the
// seconds since 1970 for comparing with a file's time.
struct Moment {
  std::string stamp;
  long long at = 0;
};
Moment now();

class CycleBook {
 public:
  CycleBook(const Diagnostics& diagnostics, const std::string& gatherer_dir, const std::string& cycle)
      : diagnostics_(diagnostics), gatherer_dir_(gatherer_dir), cycle_(cycle) {}

  // Records that this cycle began, keeping what the record said before; false
  // after an error line.
  bool begin();
  // Puts back the record of the cycle begun before this one: this one ran no
  // cycle after all (a gatherer was already at work).
  void unbegin();
  // Records this cycle's end; false after an error line.
  bool end(int status, const char* level, const std::string& what);

 private:
  std::string path_of(const char* name) const { return gatherer_dir_ + "/" + name; }

  const Diagnostics& diagnostics_;
  std::string gatherer_dir_;
  std::string cycle_;
  Moment began_;
  std::string earlier_began_;  // the began record's bytes before this cycle, "" when none
};

// The line to the system log: "GATHERER: status N: WHAT", at its level.
void log_outcome(const std::string& gatherer, int status, const char* level, const std::string& what);
// The level of a status: information when clean, a warning when a gatherer
// was already at work, else an error.
const char* level_of(int status);
