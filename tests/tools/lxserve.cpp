// lxserve: a search-service double for many clients. It listens on
// 127.0.0.1, writes its port into a file, and answers every connection that
// comes until a stop file appears. It keeps each connection open, unanswered,
// for a while after its request has come, and counts how many connections were
// open at the same time: a client that connects while another's exchange is
// going on shows up as more than one at once.
//
//   lxserve --port-file F --record-file F --stop-file F --reply TEXT [--hold-ms N]
//
// A request runs up to its zero byte (or until the client closes). The record
// file, written when the stop file has appeared, holds "connections N",
// "most-at-once M" and then one line "request TEXT" per connection in the
// order they came (the zero byte and what follows it left out).
// Exit status: 0 after the stop file, 2 for a bad command line, 4 for a socket
// or file failure.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/tools/peer_socket.h"

namespace {

int usage(const char* why) {
  std::fprintf(stderr, "lxserve: %s\n", why);
  return 2;
}

bool exists(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  std::fclose(f);
  return true;
}

// The file appears complete: the reader waits for it to be there.
bool write_file_at_once(const std::string& path, const std::string& bytes) {
  const std::string tmp = path + ".tmp";
  std::FILE* f = std::fopen(tmp.c_str(), "wb");
  if (f == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (std::fclose(f) != 0 || !written) return false;
  std::remove(path.c_str());
  return std::rename(tmp.c_str(), path.c_str()) == 0;
}

std::string read_request(peer::Sock conn) {
  std::string request;
  char buf[1024];
  for (;;) {
    const int n = peer::receive(conn, buf, static_cast<int>(sizeof buf), 10000);
    if (n <= 0) break;
    request.append(buf, static_cast<size_t>(n));
    const size_t nul = request.find('\0');
    if (nul != std::string::npos) {
      request.resize(nul);
      break;
    }
  }
  return request;
}

}  // namespace

int main(int argc, char** argv) {
  std::string port_file, record_file, stop_file, reply;
  int hold_ms = 100;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (i + 1 >= argc) return usage(("missing value for " + a).c_str());
    const std::string value = argv[++i];
    if (a == "--port-file") {
      port_file = value;
    } else if (a == "--record-file") {
      record_file = value;
    } else if (a == "--stop-file") {
      stop_file = value;
    } else if (a == "--reply") {
      reply = value;
    } else if (a == "--hold-ms") {
      hold_ms = std::atoi(value.c_str());
    } else {
      return usage(("unknown option " + a).c_str());
    }
  }
  if (port_file.empty() || record_file.empty() || stop_file.empty() || reply.empty())
    return usage("--port-file, --record-file, --stop-file and --reply are needed");

  if (!peer::startup()) return 4;
  unsigned short bound = 0;
  const peer::Sock listener = peer::listen_local(0, &bound);
  if (listener == peer::kNoSock) {
    std::fprintf(stderr, "lxserve: cannot listen (error %d)\n", peer::last_error());
    return 4;
  }
  if (!write_file_at_once(port_file, std::to_string(bound))) return 4;

  std::vector<peer::Sock> open;
  std::vector<std::string> requests;
  size_t most = 0;
  bool ok = true;
  for (;;) {
    // While connections are held, a new one within the hold overlaps them.
    const peer::Sock conn = peer::accept_within(listener, open.empty() ? 50 : hold_ms);
    if (conn != peer::kNoSock) {
      requests.push_back(read_request(conn));
      open.push_back(conn);
      most = std::max(most, open.size());
      continue;
    }
    if (!open.empty()) {
      for (const peer::Sock held : open) {
        ok = peer::send_all(held, reply.data(), static_cast<int>(reply.size())) && ok;
        peer::close_socket(held);
      }
      open.clear();
      continue;
    }
    if (exists(stop_file)) break;
  }
  peer::close_socket(listener);
  peer::cleanup();

  std::string record = "connections " + std::to_string(requests.size()) + "\nmost-at-once " +
                       std::to_string(most) + "\n";
  for (const std::string& request : requests) record += "request " + request + "\n";
  if (!write_file_at_once(record_file, record)) return 4;
  return ok ? 0 : 4;
}
