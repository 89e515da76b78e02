#include "admin/launchserver/event_report.h"

#include <cerrno>
#include <cstdio>

#include "port/eventlog.h"
#include "port/net.h"
#include "port/process.h"

namespace {

constexpr char kEventSource[] = "Moxa3R";

int error_number(int kind) {
  switch (kind) {
    case kErrorRuntime: return errno;
    case kErrorSystem: return port::last_system_error();
    case kErrorSocket: return port::net_last_error();
    default: return 0;
  }
}

}  // namespace

int report_event(unsigned long event_id, unsigned short type, const char* text, int error_kind) {
  const char* strings[2] = {};
  int count = 0;
  char number[16];
  if (type == port::kEventWarning || type == port::kEventInformation) {
    if (text != nullptr) strings[count++] = text;
  } else {
    std::snprintf(number, sizeof number, "%d", error_number(error_kind));
    if (text != nullptr) strings[count++] = text;
    strings[count++] = number;
  }
  return port::report_event(kEventSource, type, event_id, strings, count);
}
