#pragma once
// The statistics of the new production database, INFO.soif: its templates,
// from the dump when that is the new one and gzip can unpack it, else from
// the database through dbmtool, counted by the framework's Perl script.
#include "admin/storeseal/output.h"

class StatisticsLines {
 public:
  // Composes the command lines that carry the gatherer ID and the Perl and
  // gzip paths, before anything is touched; false after an error line.
  bool compose(const char* gatherer_id, SealOutput* out);
  // Makes INFO.soif (and in product start mode its Japanese rendering). The
  // old file is replaced only by whole new statistics; false after an error
  // line naming it.
  bool write(bool dump_is_new, bool product_mode, SealOutput* out);

 private:
  // Every command line fits in these buffers with its terminating zero.
  static constexpr int kLineSize = 780;
  char probe_[kLineSize] = {};
  char from_dump_[kLineSize] = {};
  char from_database_[kLineSize] = {};
  char count_[kLineSize] = {};
};
