#pragma once
// The system event log.

namespace port {

constexpr unsigned short kEventError = 1;
constexpr unsigned short kEventWarning = 2;
constexpr unsigned short kEventInformation = 4;

// Reports one event of the given source with its insertion strings.
// Returns 0, or -1 when the source cannot be registered (nothing reported).
// On POSIX an entry that no system logger would receive is written to
// standard error instead, as one line: the source, the type word, the event
// id and the insertion strings, separated by tabs.
int report_event(const char* source, unsigned short type, unsigned long event_id,
                 const char* const* strings, int string_count);

}  // namespace port
