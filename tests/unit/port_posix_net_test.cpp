// One TCP exchange with a local peer, and socket errors in Winsock numbers.
#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>

#include "port/net.h"
#include "port_posix_test_support.h"

namespace {

// A listener on 127.0.0.1 with a port of the system's choice that serves one
// connection: it reads one request and answers with `reply` (nothing, and
// just closes, when the reply is empty).
class Peer {
 public:
  explicit Peer(std::string reply) : reply_(std::move(reply)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 1) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~Peer() {
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) ::close(listener_);
  }
  unsigned short port() const { return port_; }
  // What the peer received; valid once the exchange is over.
  std::string request() {
    if (thread_.joinable()) thread_.join();
    return request_;
  }

 private:
  void serve() {
    const int fd = ::accept(listener_, nullptr, nullptr);
    if (fd < 0) return;
    char buffer[256];
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
    if (got > 0) request_.assign(buffer, static_cast<size_t>(got));
    if (!reply_.empty()) ::send(fd, reply_.data(), reply_.size(), MSG_NOSIGNAL);
    ::close(fd);
  }

  std::string reply_;
  std::string request_;
  int listener_ = -1;
  unsigned short port_ = 0;
  std::thread thread_;
};

class PortNet : public port_posix_test::SysCallsRestored {};

TEST_F(PortNet, SendsTheRequestAndReceivesTheReply) {
  Peer peer("200 OK");
  ASSERT_NE(peer.port(), 0);
  char reply[64] = {};
  const std::string request = "ZIVIDUZ gatherer";
  const port::NetResult result =
      port::tcp_exchange(peer.port(), request.data(), static_cast<int>(request.size()), reply, sizeof reply);
  EXPECT_EQ(result.failed_step, port::NetStep::kNone);
  EXPECT_EQ(result.error, 0);
  EXPECT_EQ(result.received, 6);
  EXPECT_EQ(std::string(reply, 6), "200 OK");
  EXPECT_EQ(peer.request(), request);
}

TEST_F(PortNet, PeerClosingWithoutDataIsAnEmptyReceive) {
  Peer peer("");
  ASSERT_NE(peer.port(), 0);
  char reply[64];
  const port::NetResult result = port::tcp_exchange(peer.port(), "x", 1, reply, sizeof reply);
  EXPECT_EQ(result.failed_step, port::NetStep::kNone);
  EXPECT_EQ(result.received, 0);
  EXPECT_EQ(result.error, 0);
  EXPECT_EQ(peer.request(), "x");
}

TEST_F(PortNet, RefusedConnectionIsWinsock10061) {
  unsigned short closed_port = 0;
  {
    Peer gone("");
    closed_port = gone.port();
    // Serve the peer once so that its listener can be closed.
    char reply[4];
    port::tcp_exchange(closed_port, "x", 1, reply, sizeof reply);
  }
  ASSERT_NE(closed_port, 0);
  char reply[4];
  const port::NetResult result = port::tcp_exchange(closed_port, "x", 1, reply, sizeof reply);
  EXPECT_EQ(result.failed_step, port::NetStep::kConnect);
  EXPECT_EQ(result.error, 10061);
  EXPECT_EQ(port::net_last_error(), 10061);
}

int send_flags = 0;

TEST_F(PortNet, EachStepsFailureIsReportedWithItsWinsockNumber) {
  char reply[4];
  port::posix::sys().getaddrinfo = [](const char*, const char*, const addrinfo*, addrinfo**) { return EAI_NONAME; };
  port::NetResult result = port::tcp_exchange(1, "x", 1, reply, sizeof reply);
  EXPECT_EQ(result.failed_step, port::NetStep::kResolve);
  EXPECT_EQ(result.error, 11001);
  port::posix::reset_sys();

  port::posix::sys().socket = [](int, int, int) {
    errno = EMFILE;
    return -1;
  };
  result = port::tcp_exchange(1, "x", 1, reply, sizeof reply);
  EXPECT_EQ(result.failed_step, port::NetStep::kSocket);
  EXPECT_EQ(result.error, 10024);
  port::posix::reset_sys();

  port::posix::sys().connect = [](int, const sockaddr*, socklen_t) {
    errno = ETIMEDOUT;
    return -1;
  };
  result = port::tcp_exchange(1, "x", 1, reply, sizeof reply);
  EXPECT_EQ(result.failed_step, port::NetStep::kConnect);
  EXPECT_EQ(result.error, 10060);
  EXPECT_EQ(port::net_last_error(), 10060);
  port::posix::reset_sys();

  Peer peer("reply");
  port::posix::sys().send = [](int, const void*, size_t, int flags) -> ssize_t {
    send_flags = flags;
    errno = EPIPE;  // no Winsock twin: stays as it is
    return -1;
  };
  result = port::tcp_exchange(peer.port(), "x", 1, reply, sizeof reply);
  EXPECT_EQ(result.failed_step, port::NetStep::kSend);
  EXPECT_EQ(result.error, EPIPE);
  EXPECT_NE(send_flags & MSG_NOSIGNAL, 0);  // a closed peer must not end the caller
  port::posix::reset_sys();

  Peer second("reply");
  port::posix::sys().recv = [](int, void*, size_t, int) -> ssize_t {
    errno = ECONNRESET;
    return -1;
  };
  result = port::tcp_exchange(second.port(), "x", 1, reply, sizeof reply);
  EXPECT_EQ(result.failed_step, port::NetStep::kReceive);
  EXPECT_EQ(result.error, 10054);
}

}  // namespace
