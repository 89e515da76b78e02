#pragma once
// One entry in the system's event log under the product's event source.

// Where the error number of an error entry comes from.
constexpr int kErrorNone = 0;     // the text "0"
constexpr int kErrorRuntime = 1;  // errno
constexpr int kErrorSystem = 2;   // the system's last error
constexpr int kErrorSocket = 3;   // the socket library's last error

// For warnings and information the insertion strings are the text alone (or
// none); for errors the text (when given) and the error number in decimal.
// Nothing is reported, and nothing printed, when the source cannot be
// registered. 0, or -1 then.
int report_event(unsigned long event_id, unsigned short type, const char* text, int error_kind);
