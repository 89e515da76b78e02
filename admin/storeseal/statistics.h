#pragma once
// The statistics of the new production database, INFO.soif: its templates,
// from the dump when that is the new one and gzip can unpack it, else from
// the database through dbmtool, counted by the framework's Perl script.
#include <cstddef>
#include <string>

#include "admin/common/finishing.h"
#include "admin/storeseal/output.h"

class StatisticsLines {
 public:
  // Composes the command lines that carry the gatherer ID and the Perl and
  // gzip paths, before anything is touched; false after an error line.
  bool compose(const char* gatherer_id, SealOutput* out);
  // Makes INFO.soif. The old file is replaced only by whole new statistics;
  // false after an error line naming it.
  bool write(bool dump_is_new, SealOutput* out);
  // The new dump could not be unpacked for the statistics.
  bool dump_unreadable() const { return dump_unreadable_; }
  // Makes the Japanese rendering of INFO.soif, INFO_J.txt, the same way.
  bool render(SealOutput* out);

 private:
  // Puts the whole file made in the place of name; false with the reason in detail.
  static bool placed(const char* made, const char* name, char* detail, std::size_t size);

  static constexpr int kLineSize = kSealLineSize;
  std::string perl_program_;  // the programs as the lines name them, to be found before they run
  std::string gzip_program_;
  char probe_[kLineSize] = {};
  char from_dump_[kLineSize] = {};
  char from_database_[kLineSize] = {};
  char count_[kLineSize] = {};
  bool dump_unreadable_ = false;
};
