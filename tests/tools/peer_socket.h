#pragma once
// The few socket calls of the TCP test peer, one implementation per platform
// (the peer is a test double, not part of the system, so it does not go
// through the port layer, whose socket facility is a client only).
#include <cstdint>
#include <string>

namespace peer {

using Sock = std::intptr_t;
constexpr Sock kNoSock = -1;

bool startup();
void cleanup();
// A stream socket listening on 127.0.0.1:port (0: any free port); *bound gets
// the port it listens on.
Sock listen_local(unsigned short port, unsigned short* bound);
// The next connection, or kNoSock when none came within timeout_ms.
Sock accept_within(Sock listener, int timeout_ms);
// One receive: bytes received, 0 at the end of the stream, -1 on error or
// when nothing came within timeout_ms.
int receive(Sock s, char* buffer, int size, int timeout_ms);
bool send_all(Sock s, const char* data, int size);
void close_socket(Sock s);
int last_error();

// A file's bytes; false when they cannot all be written.
bool write_file(const std::string& path, const std::string& bytes);
// The same under a work name, then renamed into place: a test that waits
// for the file to be there finds it complete.
bool write_file_at_once(const std::string& path, const std::string& bytes);
// Starts the sockets, listens on 127.0.0.1 at a free port and writes that
// port into port_file at once; kNoSock after a line on standard error that
// names the tool.
Sock listen_announced(const char* tool, const std::string& port_file);

}  // namespace peer
