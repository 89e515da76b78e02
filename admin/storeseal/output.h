#pragma once
// storeseal's three kinds of line: progress on standard output, their
// time-stamped twins in the gatherer's log file in product start mode, and
// errors on standard error (with a twin in the log as well).
#include <cstdarg>
#include <cstdio>
#include <string>

#include "admin/common/diagnostics.h"

class SealOutput {
 public:
  SealOutput() = default;
  SealOutput(const SealOutput&) = delete;
  SealOutput& operator=(const SealOutput&) = delete;
  ~SealOutput() { close_log(); }

  // Opens the file named by KESTREL_GATHERER_LOGFILE for appending (so it is
  // made even when nothing will be written to it); its lines are written only
  // in product start mode. A file that cannot be opened means no log.
  void open_log();
  void close_log();
  bool product_mode() const { return product_mode_; }

  // "storeseal: TEXT" on standard output and its stamped twin in the log.
  __attribute__((format(printf, 2, 3))) void progress(const char* format, ...);
  // The stamped twin alone, for progress told before the log was open.
  __attribute__((format(printf, 2, 3))) void log_only(const char* format, ...);
  // "storeseal: STAMP: ERROR: TEXT" on standard error and in the log.
  __attribute__((format(printf, 2, 3))) void error(const char* format, ...);
  // The text of the first error line of the run, for its record.
  const std::string& first_error() const { return diagnostics_.first_error(); }
  // "storeseal: STAMP: TEXT" on standard error alone.
  __attribute__((format(printf, 2, 3))) void say(const char* format, ...) const;

 private:
  void to_log(const char* kind, const char* format, std::va_list args);
  // A write that did not reach its file is told once on standard error.
  void lost(const char* what, int error);

  Diagnostics diagnostics_{"storeseal"};
  std::FILE* log_ = nullptr;
  bool product_mode_ = false;
  bool log_lost_ = false;
  bool out_lost_ = false;
};
