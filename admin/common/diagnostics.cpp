#include "admin/common/diagnostics.h"

#include <string>

#include "port/local_time.h"
#include "port/reader_text.h"

const char* time_stamp() {
  static char stamp[port::kTimeStampSize];
  port::format_local_time(stamp, sizeof stamp);
  return stamp;
}

void Diagnostics::vline(std::FILE* out, const char* kind, const char* format, std::va_list args) const {
  if (out == stderr && kind == kErrorKind && first_error_.empty()) {
    std::va_list kept;
    va_copy(kept, args);
    char text[4096];
    std::vsnprintf(text, sizeof text, format, kept);
    va_end(kept);
    first_error_ = text;
  }
  std::fprintf(out, "%s: %s: %s", program_, time_stamp(), kind);
  if (shown_ == Shown::kForReader) {
    std::va_list measured;
    va_copy(measured, args);
    const int length = std::vsnprintf(nullptr, 0, format, measured);
    va_end(measured);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, args);
    std::fputs(port::text_for_reader(text, port::TextFor::kTerminal).c_str(), out);
  } else {
    std::vfprintf(out, format, args);
  }
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
