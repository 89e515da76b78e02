#pragma once
// POSIX socket errors as the Windows Sockets numbers the programs report.

namespace port::posix {

// The Winsock twin of an errno value; 0 stays 0, a value without a twin
// stays as it is.
int winsock_error(int errno_value);

// What a failed host lookup reports (WSAHOST_NOT_FOUND).
constexpr int kWsaHostNotFound = 11001;

}  // namespace port::posix
