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

struct Options {
  std::string port_file, record_file, stop_file, reply;
  int hold_ms = 100;
};

// 0 with the options filled in, or the status of a bad command line.
int parse_options(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (i + 1 >= argc) return usage(("missing value for " + a).c_str());
    const std::string value = argv[++i];
    if (a == "--port-file") {
      o.port_file = value;
    } else if (a == "--record-file") {
      o.record_file = value;
    } else if (a == "--stop-file") {
      o.stop_file = value;
    } else if (a == "--reply") {
      o.reply = value;
    } else if (a == "--hold-ms") {
      o.hold_ms = std::atoi(value.c_str());
    } else {
      return usage(("unknown option " + a).c_str());
    }
  }
  if (o.port_file.empty() || o.record_file.empty() || o.stop_file.empty() || o.reply.empty())
    return usage("--port-file, --record-file, --stop-file and --reply are needed");
  return 0;
}

struct Served {
  std::vector<std::string> requests;  // in the order the connections came
  size_t most = 0;                    // connections open at the same time
  bool ok = true;                     // every answer was sent
};

// Answers every connection until the stop file appears.
Served serve(peer::Sock listener, const Options& o) {
  Served served;
  std::vector<peer::Sock> open;
  for (;;) {
    // While connections are held, a new one within the hold overlaps them.
    const peer::Sock conn = peer::accept_within(listener, open.empty() ? 50 : o.hold_ms);
    if (conn != peer::kNoSock) {
      served.requests.push_back(read_request(conn));
      open.push_back(conn);
      served.most = std::max(served.most, open.size());
      continue;
    }
    if (!open.empty()) {
      for (const peer::Sock held : open) {
        served.ok = peer::send_all(held, o.reply.data(), static_cast<int>(o.reply.size())) && served.ok;
        peer::close_socket(held);
      }
      open.clear();
      continue;
    }
    if (exists(o.stop_file)) break;
  }
  return served;
}

bool write_record(const std::string& path, const Served& served) {
  std::string record = "connections " + std::to_string(served.requests.size()) + "\nmost-at-once " +
                       std::to_string(served.most) + "\n";
  for (const std::string& request : served.requests) record += "request " + request + "\n";
  return peer::write_file_at_once(path, record);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (const int bad = parse_options(argc, argv, o); bad != 0) return bad;

  const peer::Sock listener = peer::listen_announced("lxserve", o.port_file);
  if (listener == peer::kNoSock) return 4;

  const Served served = serve(listener, o);
  peer::close_socket(listener);
  peer::cleanup();

  if (!write_record(o.record_file, served)) return 4;
  return served.ok ? 0 : 4;
}
