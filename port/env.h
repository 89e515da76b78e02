#pragma once
// Environment variables with the semantics of the Windows runtime's _putenv.

namespace port {

// "NAME=value" sets NAME; "NAME=" removes it. The string is copied.
// Returns 0, or -1 when the text has no "=" or the change fails.
int put_env(const char* assignment);

// The variable's value, or null when it is not set.
const char* get_env(const char* name);

}  // namespace port
