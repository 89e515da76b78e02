#include "src/common/util/log.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "port/file.h"
#include "port/local_time.h"
#include "port/process.h"
#include "port/stream.h"
#include "src/common/util/errors.h"

namespace {

constexpr int kMessageSize = 4096;
constexpr int kPrefixSize = 1024;

struct LogState {
  std::FILE* stream = nullptr;
  int pid = 0;
  bool flush = false;
};

LogState log_state;
char message_buffer[kMessageSize];
char prefix_buffer[kPrefixSize];

// Removes every CR that stands directly before an LF, in place.
void fold_line_ends(char* text) {
  char* out = text;
  for (const char* in = text; *in != '\0'; ++in) {
    if (in[0] == '\r' && in[1] == '\n') continue;
    *out++ = *in;
  }
  *out = '\0';
}

// The process id in eight columns, then the local time when it can be had.
const char* build_prefix() {
  int used = std::snprintf(prefix_buffer, sizeof prefix_buffer, "%8d", log_state.pid);
  if (used < 0 || used >= kPrefixSize) used = 0;
  char stamp[port::kTimeStampSize];
  if (port::format_local_time(stamp, sizeof stamp)) {
    std::snprintf(prefix_buffer + used, sizeof prefix_buffer - static_cast<size_t>(used), ": %s", stamp);
  }
  return prefix_buffer;
}

}  // namespace

void log_setup(std::FILE* error_stream) {
  log_state = LogState{};
  if (error_stream == nullptr) return;
  port::set_text_mode(error_stream);
  log_state.stream = error_stream;
  log_state.pid = port::current_pid();
  log_state.flush = true;
  // A console or a pipe shows a line as it comes; a file would keep it in
  // the stream's buffer, where a crash would lose it.
  port::FileInfo info;
  if (port::stream_stat(error_stream, &info) == 0 && !info.is_regular) log_state.flush = false;
}

void report_error(const char* format, ...) {
  if (log_state.stream == nullptr) return;
  // Formatting must not disturb errno: callers report the cause after it.
  const int saved_errno = errno;

  std::va_list args;
  va_start(args, format);
  std::va_list again;
  va_copy(again, args);
  message_buffer[0] = '\0';
  const int length = std::vsnprintf(message_buffer, sizeof message_buffer, format, args);
  va_end(args);
  if (length < 0) message_buffer[0] = '\0';

  // A message longer than the buffer is written whole from a block of its
  // own size rather than cut.
  std::vector<char> long_message;
  char* message = message_buffer;
  if (length >= kMessageSize) {
    long_message.resize(static_cast<size_t>(length) + 1);
    std::vsnprintf(long_message.data(), long_message.size(), format, again);
    message = long_message.data();
  }
  va_end(again);

  fold_line_ends(message);
  std::fprintf(log_state.stream, "%s: ERROR: %s", build_prefix(), message);
  if (log_state.flush) std::fflush(log_state.stream);
  errno = saved_errno;
}

void report_error_cause(const char* message) {
  const int code = errno;
  if (code != 0) {
    report_error("%s: %s\n", message, error_text(code));
  } else {
    report_error("%s\n", message);
  }
}
