// lxadmindrive: calls the routines of the shared administration runtime from
// its command line, so that the program tests can watch them on both targets.
// Standard output carries nothing but what the routines write (message
// responses); the driver's own report goes to standard error, one line per
// subcommand. Subcommands run left to right, so that a later one sees the
// state (quiet_once) an earlier one left:
//
//   msg STATUS KEY [ARG]...      emit_msg; "msg=RC"
//   msgtext STATUS TEXT [ARG]... emit_msg_text; "msgtext=RC"
//   catalogue KEY [nobuf]        get_msg_text; "catalogue=RC text=ESCAPED"
//   install [nobuf]              get_install_path; "install=RC path=ESCAPED quiet_once=Q"
//   tool KIND [nobuf]            get_tool_path; "tool=RC path=ESCAPED quiet_once=Q"
//   conv MODE FILE               conv_path_sep on the bytes of FILE ("null"
//                                for a null path); "conv=RC bytes=HEX"
//   regvalue KEYPATH NAME        read_reg_value; "regvalue=null" or
//                                "regvalue=ESCAPED"
//   quiet N                      sets quiet_once to N
//
// ARG is "s:TEXT" (a string), "i:NUMBER" (an int) or "f:PATH" (a string
// holding the bytes of that file). A TEXT, KEY, KEYPATH or NAME written
// "@file=PATH" stands for the bytes of that file, and "@null" for a null
// pointer: under Wine the command line passes through the Unix character set,
// so Shift_JIS bytes reach the driver only through files.
// Exit status 0, or 2 for a bad command line.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "admin/common/catalogue.h"
#include "admin/common/messages.h"
#include "admin/common/registry_settings.h"
#include "port/stream.h"
#include "tests/tools/bytes_text.h"
#include "tests/tools/driver_support.h"

namespace {

using lxt_driver::file_bytes;
using lxt_driver::Usage;

struct Args : lxt_driver::ArgCursor {
  const char* raw(const char* what) {
    if (i >= argc) throw Usage{std::string("missing ") + what};
    return argv[i++];
  }
  // A string argument: as given, from a file, or null.
  const char* text(const char* what) {
    const char* a = raw(what);
    if (std::strcmp(a, "@null") == 0) return nullptr;
    if (std::strncmp(a, "@file=", 6) != 0) return a;
    held.push_back(file_bytes(a + 6));
    return held.back().c_str();
  }
  int number(const char* what) {
    const char* a = raw(what);
    char* end = nullptr;
    const long v = std::strtol(a, &end, 10);
    if (end == a || *end != '\0') throw Usage{std::string("not a number: ") + a};
    return static_cast<int>(v);
  }
  // The word "nobuf" when it comes next.
  bool flag(const char* word) {
    if (i < argc && std::strcmp(argv[i], word) == 0) {
      ++i;
      return true;
    }
    return false;
  }
  // Placeholder values up to the next subcommand.
  std::vector<MsgArg> message_args() {
    std::vector<MsgArg> out;
    while (i < argc && argv[i][0] != '\0' && argv[i][1] == ':' &&
           (argv[i][0] == 's' || argv[i][0] == 'i' || argv[i][0] == 'f')) {
      const char* a = argv[i++];
      if (a[0] == 's') {
        out.emplace_back(a + 2);
      } else if (a[0] == 'f') {
        held.push_back(file_bytes(a + 2));
        out.emplace_back(held.back().c_str());
      } else {
        out.emplace_back(std::atoi(a + 2));
      }
    }
    return out;
  }
};

std::string escaped(const char* data) { return data == nullptr ? "null" : lxt_bytes::escaped(data); }

// The report goes out at once, so that it follows the routine's output even
// when both streams end in the same place.
void report(const std::string& line) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
}

void drive(Args& a) {
  while (a.more()) {
    const std::string cmd = a.raw("subcommand");
    if (cmd == "msg") {
      const int status = a.number("status");
      const char* key = a.text("key");
      const std::vector<MsgArg> args = a.message_args();
      const int rc = emit_msg_args(status, key, args.data(), args.size());
      report("msg=" + std::to_string(rc));
    } else if (cmd == "msgtext") {
      const int status = a.number("status");
      const char* text = a.text("text");
      const std::vector<MsgArg> args = a.message_args();
      const int rc = emit_msg_text_args(status, text, args.data(), args.size());
      report("msgtext=" + std::to_string(rc));
    } else if (cmd == "catalogue") {
      const char* key = a.text("key");
      std::vector<char> out(kMsgTextSize, '\0');
      const int rc = get_msg_text(key, a.flag("nobuf") ? nullptr : out.data());
      report("catalogue=" + std::to_string(rc) + " text=" + escaped(out.data()));
    } else if (cmd == "install") {
      std::vector<char> out(kRegPathSize, '\0');
      const int rc = get_install_path(a.flag("nobuf") ? nullptr : out.data());
      report("install=" + std::to_string(rc) + " path=" + escaped(out.data()) +
             " quiet_once=" + std::to_string(quiet_once));
    } else if (cmd == "tool") {
      const int kind = a.number("kind");
      std::vector<char> out(kRegPathSize, '\0');
      const int rc = get_tool_path(kind, a.flag("nobuf") ? nullptr : out.data());
      report("tool=" + std::to_string(rc) + " path=" + escaped(out.data()) +
             " quiet_once=" + std::to_string(quiet_once));
    } else if (cmd == "conv") {
      const int mode = a.number("mode");
      const char* file = a.raw("file");
      if (std::strcmp(file, "null") == 0) {
        const int rc = conv_path_sep(nullptr, mode);
        report("conv=" + std::to_string(rc) + " bytes=");
      } else {
        std::string bytes = file_bytes(file);
        const int rc = conv_path_sep(bytes.data(), mode);
        report("conv=" + std::to_string(rc) + " bytes=" + lxt_bytes::hex(bytes));
      }
    } else if (cmd == "regvalue") {
      const char* key_path = a.text("key path");
      const char* name = a.text("value name");
      char* value = read_reg_value(key_path, name);
      report(std::string("regvalue=") + escaped(value));
      std::free(value);
    } else if (cmd == "quiet") {
      quiet_once = a.number("value");
    } else {
      throw Usage{"unknown subcommand " + cmd};
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  // The report is read byte for byte; the routines' own output keeps the
  // text mode the programs write it in.
  port::set_binary_mode(stderr);
  Args args{{argc, argv, 1, {}}};
  try {
    drive(args);
    return 0;
  } catch (const Usage& u) {
    std::fflush(stdout);
    std::fprintf(stderr, "lxadmindrive: %s\n", u.why.c_str());
    return 2;
  }
}
