#include "admin/storeseal/output.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "port/write_check.h"
#include "port/env.h"
#include "port/stream.h"

void SealOutput::open_log() {
  const char* mode = port::get_env("LXG_STARTMODE");
  product_mode_ = mode != nullptr && std::strcmp(mode, "LX") == 0;
  const char* path = port::get_env("KESTREL_GATHERER_LOGFILE");
  if (path == nullptr) return;
  log_ = port::open_file(path, "a");
  // Without the file the run goes on; its log lines are lost, and that is said.
  if (log_ == nullptr && product_mode_) lost(path, errno);
}

void SealOutput::close_log() {
  if (log_ == nullptr) return;
  if (port::close_checked(log_) != 0 && !log_lost_) lost("the log file", errno);
  log_ = nullptr;
}

void SealOutput::lost(const char* what, int error) {
  diagnostics_.error("Cannot write to %s (errno=%d).", what, error);
}

void SealOutput::to_log(const char* kind, const char* format, std::va_list args) {
  if (log_ == nullptr || !product_mode_) return;
  diagnostics_.vline(log_, kind, format, args);
  // A run that is cut short keeps every line it wrote.
  if (port::flush_checked(log_) != 0 && !log_lost_) {
    log_lost_ = true;
    lost("the log file", errno);
  }
}

void SealOutput::progress(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::va_list twin;
  va_copy(twin, args);
  std::fputs("storeseal: ", stdout);
  std::vfprintf(stdout, format, args);
  std::fputc('\n', stdout);
  if (port::flush_checked(stdout) != 0 && !out_lost_) {
    out_lost_ = true;
    lost("standard output", errno);
  }
  to_log("", format, twin);
  va_end(twin);
  va_end(args);
}

void SealOutput::log_only(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  to_log("", format, args);
  va_end(args);
}

void SealOutput::error(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::va_list twin;
  va_copy(twin, args);
  diagnostics_.vline(stderr, kErrorKind, format, args);
  to_log(kErrorKind, format, twin);
  va_end(twin);
  va_end(args);
}

void SealOutput::say(const char* format, ...) const {
  std::va_list args;
  va_start(args, format);
  diagnostics_.vline(stderr, "", format, args);
  va_end(args);
}
