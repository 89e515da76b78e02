// lxpeer: a one-shot TCP peer for the program tests. It listens on 127.0.0.1,
// writes the port it listens on into a file, accepts one connection, records
// what the client sent, answers (or closes without a word) and ends.
//
//   lxpeer --port-file F --request-file F [--reply TEXT]
//          [--read once|nul|eof] [--timeout-ms N] [--watch PATH] [--hold-ms N]
//
// --read says how much of the request is taken: "once" (the default) is the
// bytes of one receive, as a client that sends its request in one call and
// then waits for the answer expects; "nul" receives until a zero byte has come
// (or the client closes); "eof" until the client closes its side. Without a
// reply option the connection is closed without data. --watch records, in
// the request file's name plus ".watch", whether PATH existed when the request
// had come ("present" or "absent"), for a client that must hold a file then.
// --hold-ms keeps the connection silent after the request, until the client
// closes it or N ms have passed: a service that never answers.
// Exit status: 0 after the exchange, 2 for a bad command line, 3 when no
// client came in time, 4 for a socket failure.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/tools/peer_socket.h"

namespace {

int usage(const char* why) {
  std::fprintf(stderr, "lxpeer: %s\n", why);
  return 2;
}

struct Options {
  std::string port_file, request_file, reply, read_mode = "once", watch;
  bool have_reply = false;
  int timeout_ms = 60000;
  int hold_ms = 0;
};

// 0 with the options filled in, or the status of a bad command line.
int parse_options(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool has_value = i + 1 < argc;
    if (!has_value) {
      return usage(("missing value for " + a).c_str());
    } else if (a == "--port-file") {
      o.port_file = argv[++i];
    } else if (a == "--request-file") {
      o.request_file = argv[++i];
    } else if (a == "--reply") {
      o.reply += argv[++i];
      o.have_reply = true;
    } else if (a == "--read") {
      o.read_mode = argv[++i];
      if (o.read_mode != "once" && o.read_mode != "nul" && o.read_mode != "eof")
        return usage("--read takes once, nul or eof");
    } else if (a == "--watch") {
      o.watch = argv[++i];
    } else if (a == "--hold-ms") {
      o.hold_ms = std::atoi(argv[++i]);
    } else if (a == "--timeout-ms") {
      o.timeout_ms = std::atoi(argv[++i]);
    } else {
      return usage(("unknown option " + a).c_str());
    }
  }
  if (o.port_file.empty() || o.request_file.empty()) return usage("--port-file and --request-file are needed");
  return 0;
}

// Takes the request as --read says, records it (and what --watch saw), holds
// and answers as told; false when a record or the answer could not be made.
bool exchange(peer::Sock conn, const Options& o) {
  std::string request;
  char buf[4096];
  for (;;) {
    int n = peer::receive(conn, buf, static_cast<int>(sizeof buf), o.timeout_ms);
    if (n <= 0) break;
    request.append(buf, static_cast<size_t>(n));
    if (o.read_mode == "once") break;
    if (o.read_mode == "nul" && request.find('\0') != std::string::npos) break;
  }
  bool ok = peer::write_file(o.request_file, request);
  if (!o.watch.empty()) {
    std::FILE* f = std::fopen(o.watch.c_str(), "rb");
    if (f) std::fclose(f);
    ok = peer::write_file(o.request_file + ".watch", f ? "present" : "absent") && ok;
  }
  if (o.hold_ms > 0) peer::receive(conn, buf, static_cast<int>(sizeof buf), o.hold_ms);
  if (o.have_reply) ok = peer::send_all(conn, o.reply.data(), static_cast<int>(o.reply.size())) && ok;
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (const int bad = parse_options(argc, argv, o); bad != 0) return bad;

  const peer::Sock listener = peer::listen_announced("lxpeer", o.port_file);
  if (listener == peer::kNoSock) return 4;
  peer::Sock conn = peer::accept_within(listener, o.timeout_ms);
  peer::close_socket(listener);
  if (conn == peer::kNoSock) {
    std::fprintf(stderr, "lxpeer: no client\n");
    return 3;
  }

  const bool ok = exchange(conn, o);
  peer::close_socket(conn);
  peer::cleanup();
  return ok ? 0 : 4;
}
