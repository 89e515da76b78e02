#include "admin/cyclerun/notify.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "admin/common/messages.h"
#include "admin/cyclerun/cycle_lock.h"
#include "admin/common/installation.h"
#include "port/net.h"

namespace {

constexpr char kCommand[] = "ZIVIDUZ";
constexpr char kRejection[] = "LXSCOMMANDERR";
// Request and reply each fit in this many bytes.
constexpr int kExchangeSize = 512;
// The request: the command, a blank, the name and its terminator.
static_assert(kMaxGathererName == kExchangeSize - static_cast<int>(sizeof kCommand) - 1);

bool is_rejection(const char* reply, int length) {
  const int n = static_cast<int>(sizeof kRejection) - 1;
  if (length < n) return false;
  for (int i = 0; i < n; ++i) {
    if (std::toupper(static_cast<unsigned char>(reply[i])) != kRejection[i]) return false;
  }
  return true;
}

// Reads the reply's leading decimal number as "%d" would (white space, a
// sign, digits) but judges it by its digits, so that no number is too large
// to tell zero from the rest. False when the reply begins with no number.
bool leading_number_is_zero(const char* reply, bool* is_zero) {
  const char* p = reply;
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  if (*p == '+' || *p == '-') ++p;
  if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
  *is_zero = true;
  for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
    if (*p != '0') *is_zero = false;
  }
  return true;
}

const char* step_text(port::NetStep step) {
  switch (step) {
    case port::NetStep::kStartup: return "WSAStartup";
    case port::NetStep::kResolve: return "gethostbyname";
    case port::NetStep::kSocket: return "socket";
    case port::NetStep::kConnect: return "connect";
    case port::NetStep::kSend: return "send";
    case port::NetStep::kReceive: return "recv";
    case port::NetStep::kNone: break;
  }
  return "";
}

// Reports a failed socket step by the socket library's error code.
void report_socket_error(const char* step, int error) {
  switch (error) {
    case port::kNetTooManySockets:
    case port::kNetNoBufferSpace:
      emit_msg(500, "LXC_MSG_003");
      break;
    case port::kNetTimedOut:
      emit_msg(500, "LXC_MSG_020NT");
      break;
    case port::kNetRefused:
      emit_msg(500, "LXC_MSG_019NT");
      break;
    default:
      emit_msg(500, "LXC_MSG_002", step, error);
      break;
  }
}

// One exchange with the search service: 0 when a reply came that is no
// rejection, -1 otherwise (after a message).
int send_service_command(const char* request, char* reply, int reply_size) {
  const auto tcp_port = installation::service_port(installation::Quiet::kNo);
  if (!tcp_port) return -1;
  // The request goes out with its terminating zero byte.
  const int request_size = static_cast<int>(std::strlen(request)) + 1;
  const port::NetResult result = port::tcp_exchange(*tcp_port, request, request_size, reply, reply_size - 1);
  if (result.failed_step != port::NetStep::kNone) {
    report_socket_error(step_text(result.failed_step), result.error);
    return -1;
  }
  if (result.received == 0) {
    report_socket_error("Server closed connection", result.error);
    return -1;
  }
  reply[result.received] = '\0';
  if (is_rejection(reply, result.received)) {
    emit_msg(500, "LXC_MSG_001", 200);
    return -1;
  }
  // A reply must begin with a number; anything else is no answer to judge,
  // reported with a detail code of its own beside the rejection's 200.
  bool is_zero = false;
  if (!leading_number_is_zero(reply, &is_zero)) {
    emit_msg(500, "LXC_MSG_001", 201);
    return -1;
  }
  return 0;
}

}  // namespace

Notice notify_service(const char* gatherer_name) {
  char request[kExchangeSize];
  std::snprintf(request, sizeof request, "%s %s", kCommand, gatherer_name);
  if (lock_cycle() != 0) return Notice::kNotTold;

  // One byte more than a receive takes, for the terminator.
  char reply[kExchangeSize + 1] = {};
  if (send_service_command(request, reply, sizeof reply) != 0) {
    unlock_cycle();
    return Notice::kNotTold;
  }
  unlock_cycle();

  bool is_zero = false;
  leading_number_is_zero(reply, &is_zero);
  emit_msg(200, is_zero ? "LXC_MSG_601" : "LXC_MSG_610");
  return is_zero ? Notice::kTold : Notice::kToldNonzero;
}
