#pragma once
// Environment variables with the semantics of the Windows runtime's _putenv.

namespace port {

// A name is one name in any letter case, as on Windows. "NAME=value" sets
// NAME and removes its other-case variants; "NAME=" removes it in every
// letter case. The string is copied.
// Returns 0, or -1 when the text has no "=" or the change fails.
int put_env(const char* assignment);

// The variable's value (the exact name first, else the first other-case
// variant in the environment's order), or null when it is not set.
const char* get_env(const char* name);

}  // namespace port
