#include "admin/common/diagnostics.h"

#include <ctime>

const char* time_stamp() {
  static char stamp[64];
  const std::time_t now = std::time(nullptr);
  if (const std::tm* local = std::localtime(&now)) {
    std::strftime(stamp, sizeof stamp, "%Y%m%d %H:%M:%S", local);
  }
  return stamp;
}

void Diagnostics::vline(std::FILE* out, const char* kind, const char* format, std::va_list args) const {
  std::fprintf(out, "%s: %s: %s", program_, time_stamp(), kind);
  std::vfprintf(out, format, args);
  std::fputc('\n', out);
  if (out == stderr) std::fflush(stderr);
}

void Diagnostics::say(const char* format, ...) const {
  std::va_list args;
  va_start(args, format);
  vline(stderr, "", format, args);
  va_end(args);
}

void Diagnostics::error(const char* format, ...) const {
  std::va_list args;
  va_start(args, format);
  vline(stderr, kErrorKind, format, args);
  va_end(args);
}

void Diagnostics::say_in(std::FILE* log, const char* format, ...) const {
  std::va_list args;
  va_start(args, format);
  vline(log, "", format, args);
  va_end(args);
}
