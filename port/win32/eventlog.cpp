// The system event log on Windows.
#include "port/eventlog.h"

#include <windows.h>

namespace port {

int report_event(const char* source, unsigned short type, unsigned long event_id,
                 const char* const* strings, int string_count) {
  if (string_count < 0 || string_count > 0xFFFF || (string_count > 0 && strings == nullptr)) {
    return -1;
  }
  HANDLE log = RegisterEventSourceA(nullptr, source);
  if (log == nullptr) return -1;
  // ReportEventA only reads the strings; its declaration lacks the const.
  BOOL reported = ReportEventA(log, type, 0, event_id, nullptr, static_cast<WORD>(string_count), 0,
                               const_cast<const char**>(strings), nullptr);
  DeregisterEventSource(log);
  return reported ? 0 : -1;
}

}  // namespace port
