#pragma once
// The local time in the one form every line of the system is stamped with.
#include <cstddef>

namespace port {

// Room for a stamp and its terminator.
constexpr std::size_t kTimeStampSize = 18;

// Writes the local time as "YYYYMMDD HH:MM:SS" into out (at least
// kTimeStampSize bytes). False, with out untouched, when the time cannot be had.
bool format_local_time(char* out, std::size_t size);

}  // namespace port
