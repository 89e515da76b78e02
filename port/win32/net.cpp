// One TCP exchange through Windows Sockets.
#include "port/net.h"

#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstring>

namespace port {

namespace {

// Cleans the socket library up on every way out, after the socket is closed.
class SocketLibrary {
 public:
  SocketLibrary() = default;
  SocketLibrary(const SocketLibrary&) = delete;
  SocketLibrary& operator=(const SocketLibrary&) = delete;
  ~SocketLibrary() {
    if (started_) WSACleanup();
  }
  int start() {
    WSADATA data{};
    int result = WSAStartup(MAKEWORD(2, 0), &data);
    started_ = result == 0;
    return result;
  }

 private:
  bool started_ = false;
};

class Socket {
 public:
  explicit Socket(SOCKET s) : socket_(s) {}
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket() {
    if (valid()) closesocket(socket_);
  }
  SOCKET get() const { return socket_; }
  bool valid() const { return socket_ != INVALID_SOCKET; }

 private:
  SOCKET socket_;
};

NetResult failed(NetStep step, int error) {
  NetResult result;
  result.failed_step = step;
  result.error = error;
  return result;
}

}  // namespace

NetResult tcp_exchange(unsigned short tcp_port, const char* request, int request_size,
                       char* reply, int reply_size) {
  // The error of a failing step is taken at once, before the socket is closed
  // and the library cleaned up, which may change the last error.
  SocketLibrary library;
  if (int started = library.start(); started != 0) return failed(NetStep::kStartup, started);

  const hostent* host = gethostbyname("localhost");
  if (host == nullptr || host->h_addr_list == nullptr || host->h_addr_list[0] == nullptr) {
    return failed(NetStep::kResolve, WSAGetLastError());
  }

  Socket peer(socket(AF_INET, SOCK_STREAM, 0));
  if (!peer.valid()) return failed(NetStep::kSocket, WSAGetLastError());

  sockaddr_in address;
  std::memset(&address, 0, sizeof(address));
  // The host entry's address length is the resolver's; never copy more than
  // the address field holds.
  std::memcpy(&address.sin_addr, host->h_addr_list[0],
              std::min<std::size_t>(static_cast<std::size_t>(std::max<int>(host->h_length, 0)),
                                    sizeof(address.sin_addr)));
  address.sin_family = static_cast<ADDRESS_FAMILY>(host->h_addrtype);
  address.sin_port = htons(tcp_port);
  if (connect(peer.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) ==
      SOCKET_ERROR) {
    return failed(NetStep::kConnect, WSAGetLastError());
  }

  if (send(peer.get(), request, request_size, 0) == SOCKET_ERROR) {
    return failed(NetStep::kSend, WSAGetLastError());
  }

  int received = recv(peer.get(), reply, reply_size, 0);
  if (received == SOCKET_ERROR) return failed(NetStep::kReceive, WSAGetLastError());
  NetResult result;
  result.received = received;
  if (received == 0) result.error = WSAGetLastError();
  return result;
}

int net_last_error() { return WSAGetLastError(); }

}  // namespace port
