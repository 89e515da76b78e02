#include "tests/tools/peer_socket.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstring>
#include <string>

namespace peer {

#ifdef _WIN32
bool startup() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}
void cleanup() { WSACleanup(); }
int last_error() { return WSAGetLastError(); }
void close_socket(Sock s) { closesocket(static_cast<SOCKET>(s)); }
static Sock wrap(SOCKET s) { return s == INVALID_SOCKET ? kNoSock : static_cast<Sock>(s); }
static SOCKET raw(Sock s) { return static_cast<SOCKET>(s); }
static bool readable(Sock s, int timeout_ms) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(raw(s), &set);
  timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  return select(0, &set, nullptr, nullptr, &tv) == 1;
}
#else
bool startup() { return true; }
void cleanup() {}
int last_error() { return errno; }
void close_socket(Sock s) { ::close(static_cast<int>(s)); }
static Sock wrap(int s) { return s < 0 ? kNoSock : static_cast<Sock>(s); }
static int raw(Sock s) { return static_cast<int>(s); }
static bool readable(Sock s, int timeout_ms) {
  pollfd p{raw(s), POLLIN, 0};
  int r;
  do {
    r = ::poll(&p, 1, timeout_ms);
  } while (r < 0 && errno == EINTR);
  return r == 1;
}
#endif

Sock listen_local(unsigned short port, unsigned short* bound) {
  Sock s = wrap(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (s == kNoSock) return kNoSock;
  sockaddr_in addr;
  std::memset(&addr, 0, sizeof addr);
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (bind(raw(s), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(raw(s), 4) != 0 ||
      getsockname(raw(s), reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    close_socket(s);
    return kNoSock;
  }
  *bound = ntohs(addr.sin_port);
  return s;
}

Sock accept_within(Sock listener, int timeout_ms) {
  if (!readable(listener, timeout_ms)) return kNoSock;
  return wrap(accept(raw(listener), nullptr, nullptr));
}

int receive(Sock s, char* buffer, int size, int timeout_ms) {
  if (!readable(s, timeout_ms)) return -1;
  return static_cast<int>(recv(raw(s), buffer, size, 0));
}

bool send_all(Sock s, const char* data, int size) {
  while (size > 0) {
    int n = static_cast<int>(send(raw(s), data, size, 0));
    if (n <= 0) return false;
    data += n;
    size -= n;
  }
  return true;
}

bool write_file(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && written;
}

bool write_file_at_once(const std::string& path, const std::string& bytes) {
  const std::string tmp = path + ".tmp";
  if (!write_file(tmp, bytes)) return false;
  std::remove(path.c_str());
  return std::rename(tmp.c_str(), path.c_str()) == 0;
}

Sock listen_announced(const char* tool, const std::string& port_file) {
  if (!startup()) return kNoSock;
  unsigned short bound = 0;
  const Sock listener = listen_local(0, &bound);
  if (listener == kNoSock) {
    std::fprintf(stderr, "%s: cannot listen (error %d)\n", tool, last_error());
    return kNoSock;
  }
  if (!write_file_at_once(port_file, std::to_string(bound))) {
    std::fprintf(stderr, "%s: cannot write %s\n", tool, port_file.c_str());
    close_socket(listener);
    return kNoSock;
  }
  return listener;
}

}  // namespace peer
