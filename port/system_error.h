#pragma once
// What a Windows system error code stands for as an errno value: one fixed
// table, the same on both targets, so that a start failure on Windows and
// the summarizer runtime read a code alike, and the table can be tested
// anywhere.

namespace port {

// The errno value (socket error codes from 10000 up stay as they are) for a
// Windows system error code; EINVAL for a code in no row. The results 320 to
// 357 are no errno values: codes whose only meaning is a text of the
// summarizer runtime's own.
int system_error_to_errno(int system_error);

}  // namespace port
