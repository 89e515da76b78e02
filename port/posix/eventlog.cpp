// The system event log on POSIX is syslog; a test or an installation that
// wants the events in a file names it in LORVEX_EVENTLOG. Where no system
// logger listens, the entry goes to standard error, so that it is never lost.
#include "port/eventlog.h"
#include "port/stream.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "port/posix/syscalls.h"
#include "port/posix/unique_fd.h"

namespace port {

namespace {

const char* type_word(unsigned short type) {
  switch (type) {
    case kEventError:
      return "ERROR";
    case kEventWarning:
      return "WARNING";
    default:
      return "INFORMATION";
  }
}

int priority(unsigned short type) {
  switch (type) {
    case kEventError:
      return LOG_ERR;
    case kEventWarning:
      return LOG_WARNING;
    default:
      return LOG_INFO;
  }
}

// The event id as the event viewer shows the full 32-bit value.
std::string id_text(unsigned long event_id) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(event_id & 0xFFFFFFFFUL));
  return text;
}

std::string joined(const char* const* strings, int string_count) {
  std::string text;
  for (int i = 0; strings != nullptr && i < string_count; ++i) {
    text += '\t';
    if (strings[i] != nullptr) text += strings[i];
  }
  return text;
}

// syslog() says nothing of an entry nobody receives: whether a logger
// listens is asked of its socket first, in both of the ways syslog tries it.
bool system_logger_listens() {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", _PATH_LOG);
  for (int type : {SOCK_DGRAM, SOCK_STREAM}) {
    const posix::UniqueFd fd(posix::sys().socket(AF_UNIX, type | SOCK_CLOEXEC, 0));
    if (!fd.valid()) continue;
    if (posix::sys().connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return true;
  }
  return false;
}

bool write_line(std::FILE* file, const std::string& line) { return std::fputs(line.c_str(), file) >= 0; }

}  // namespace

int report_event(const char* source, unsigned short type, unsigned long event_id, const char* const* strings,
                 int string_count) {
  if (source == nullptr) return -1;
  const std::string details = id_text(event_id) + joined(strings, string_count);
  const std::string line = std::string(source) + '\t' + type_word(type) + '\t' + details + '\n';
  const char* file_name = posix::sys().getenv("LORVEX_EVENTLOG");
  if (file_name != nullptr && *file_name != '\0') {
    std::FILE* file = open_file(file_name, "a");
    if (file == nullptr) return -1;
    const bool written = write_line(file, line);
    const bool closed = std::fclose(file) == 0;
    return written && closed ? 0 : -1;
  }
  if (!system_logger_listens()) return write_line(stderr, line) && std::fflush(stderr) == 0 ? 0 : -1;
  // syslog keeps the ident pointer: it must live until closelog.
  const std::string ident = source;
  openlog(ident.c_str(), LOG_PID, LOG_USER);
  syslog(priority(type), "%s", details.c_str());
  closelog();
  return 0;
}

}  // namespace port
