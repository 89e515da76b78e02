// One TCP exchange with a local service. Errors leave here as Winsock numbers,
// because that is what the programs print and what their callers look for.
#include "port/net.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "port/posix/net_errors.h"
#include "port/posix/syscalls.h"

namespace port {

namespace posix {

namespace {

struct ErrnoTwin {
  int errno_value;
  int winsock;
};

constexpr ErrnoTwin kTwins[] = {
    {EINTR, 10004},           {EBADF, 10009},           {EACCES, 10013},          {EFAULT, 10014},
    {EINVAL, 10022},          {EMFILE, kNetTooManySockets}, {ENFILE, kNetTooManySockets},          {EWOULDBLOCK, 10035},
    {EAGAIN, 10035},          {EINPROGRESS, 10036},     {EALREADY, 10037},        {ENOTSOCK, 10038},
    {EDESTADDRREQ, 10039},    {EMSGSIZE, 10040},        {EPROTOTYPE, 10041},      {ENOPROTOOPT, 10042},
    {EPROTONOSUPPORT, 10043}, {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045},      {EPFNOSUPPORT, 10046},
    {EAFNOSUPPORT, 10047},    {EADDRINUSE, 10048},      {EADDRNOTAVAIL, 10049},   {ENETDOWN, 10050},
    {ENETUNREACH, 10051},     {ENETRESET, 10052},       {ECONNABORTED, 10053},    {ECONNRESET, 10054},
    {ENOBUFS, kNetNoBufferSpace}, {ENOMEM, kNetNoBufferSpace},          {EISCONN, 10056},         {ENOTCONN, 10057},
    {ESHUTDOWN, 10058},       {ETOOMANYREFS, 10059},    {ETIMEDOUT, kNetTimedOut},  {ECONNREFUSED, kNetRefused},
    {ELOOP, 10062},           {ENAMETOOLONG, 10063},    {EHOSTDOWN, 10064},       {EHOSTUNREACH, 10065},
    {ENOTEMPTY, 10066},       {EUSERS, 10068},          {EDQUOT, 10069},          {ESTALE, 10070},
    {EREMOTE, 10071},
};

}  // namespace

int winsock_error(int errno_value) {
  for (const ErrnoTwin& twin : kTwins) {
    if (twin.errno_value == errno_value) return twin.winsock;
  }
  return errno_value;
}

}  // namespace posix

namespace {

thread_local int last_error = 0;

NetResult fail(NetResult result, NetStep step, int error) {
  result.failed_step = step;
  result.error = error;
  last_error = error;
  return result;
}

// A blocking connect cut short by a signal may go on in the background.
// Asking again tells: connected, still under way (then wait for its end and
// take its own result), or never begun or failed (then this is the attempt).
int finish_interrupted_connect(int fd, const sockaddr* address, socklen_t address_size) {
  for (;;) {
    if (posix::sys().connect(fd, address, address_size) == 0 || errno == EISCONN) return 0;
    if (errno == EALREADY || errno == EINPROGRESS) break;
    if (errno != EINTR) return -1;
  }
  pollfd entry{fd, POLLOUT, 0};
  int ready = 0;
  do {
    ready = posix::sys().poll(&entry, 1, -1);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0) return -1;
  int error = 0;
  socklen_t size = sizeof error;
  if (posix::sys().getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return -1;
  if (error != 0) {
    errno = error;
    return -1;
  }
  return 0;
}

// Connects the socket, sends the request and takes one receive of the reply.
NetResult exchange(int fd, const sockaddr_in& address, const char* request, int request_size, char* reply,
                   int reply_size) {
  using posix::sys;
  using posix::winsock_error;
  NetResult result;
  int connected = sys().connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  if (connected != 0 && errno == EINTR) {
    connected = finish_interrupted_connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  }
  if (connected != 0) {
    return fail(result, NetStep::kConnect, winsock_error(errno));
  }
  if (request_size < 0 || (request == nullptr && request_size > 0)) {
    return fail(result, NetStep::kSend, winsock_error(EFAULT));
  }
  // A peer that has gone away must not end the caller with SIGPIPE.
  ssize_t sent = 0;
  do {
    sent = sys().send(fd, request, static_cast<size_t>(request_size), MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  if (sent < 0) return fail(result, NetStep::kSend, winsock_error(errno));
  if (reply_size < 0 || (reply == nullptr && reply_size > 0)) {
    return fail(result, NetStep::kReceive, winsock_error(EFAULT));
  }
  ssize_t got = 0;
  do {
    got = sys().recv(fd, reply, static_cast<size_t>(reply_size), 0);
  } while (got < 0 && errno == EINTR);
  if (got < 0) return fail(result, NetStep::kReceive, winsock_error(errno));
  result.received = static_cast<int>(got);
  return result;
}

}  // namespace

NetResult tcp_exchange(unsigned short tcp_port, const char* request, int request_size, char* reply,
                       int reply_size) {
  using posix::sys;
  using posix::winsock_error;
  NetResult result;
  last_error = 0;

  // The host entry of "localhost" as the Windows resolver gives it: IPv4.
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (sys().getaddrinfo("localhost", nullptr, &hints, &found) != 0 || found == nullptr) {
    if (found) freeaddrinfo(found);
    return fail(result, NetStep::kResolve, posix::kWsaHostNotFound);
  }
  sockaddr_in address{};
  std::memcpy(&address, found->ai_addr, sizeof address);
  freeaddrinfo(found);
  address.sin_port = htons(tcp_port);

  const int fd = sys().socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return fail(result, NetStep::kSocket, winsock_error(errno));
  result = exchange(fd, address, request, request_size, reply, reply_size);
  sys().close(fd);
  return result;
}

int net_last_error() { return last_error; }

}  // namespace port
