#pragma once
// Error codes of the summarizers: a readable text for an errno value or a
// socket error code, and the errno value that a Windows system error stands for.
#include "port/system_error.h"

// The platform's text for the code, or the library's own for the codes the
// platform has no text for, or "errno = N". The text stays valid until the
// next call.
const char* error_text(int code);

// The errno value (socket error codes from 10000 up stay as they are) for a
// Windows system error code: the port's table, which a start failure on
// Windows is read by as well.
using port::system_error_to_errno;
