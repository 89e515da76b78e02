#pragma once
// One TCP exchange with a service on the local machine. Errors are reported
// with the Windows Sockets numbers (10061 connection refused, 10060 timed out ...).

namespace port {

// The Windows Sockets numbers that the programs tell apart.
constexpr int kNetTooManySockets = 10024;
constexpr int kNetNoBufferSpace = 10055;
constexpr int kNetTimedOut = 10060;
constexpr int kNetRefused = 10061;

enum class NetStep { kNone, kStartup, kResolve, kSocket, kConnect, kSend, kReceive };

struct NetResult {
  NetStep failed_step = NetStep::kNone;  // kNone: every step succeeded
  int error = 0;                         // the socket library's last error code
  int received = 0;                      // bytes received by the one receive
};

// Starts the socket library, resolves "localhost", connects a stream socket to
// the port, sends the request in one call, receives once at most reply_size
// bytes, closes and cleans up. The first failing step ends the exchange.
// A receive of 0 bytes is not a failure here: received is 0 and error holds the
// library's last error code at that moment.
NetResult tcp_exchange(unsigned short tcp_port, const char* request, int request_size,
                       char* reply, int reply_size);

// The socket library's last error code, as WSAGetLastError.
int net_last_error();

}  // namespace port
