#pragma once
// The system event log.

namespace port {

constexpr unsigned short kEventError = 1;
constexpr unsigned short kEventWarning = 2;
constexpr unsigned short kEventInformation = 4;

// Reports one event of the given source with its insertion strings.
// Returns 0, or -1 when the source cannot be registered (nothing reported).
int report_event(const char* source, unsigned short type, unsigned long event_id,
                 const char* const* strings, int string_count);

}  // namespace port
