// The typed settings and, built on them, the lookups whose names and results
// the programs' messages fix: the int results, the caller's buffers and the
// one-shot quiet_once flag live only here.
#include "admin/common/installation.h"

#include <cstdlib>
#include <cstring>

#include "admin/common/change_refusal.h"
#include "admin/common/diagnostics.h"
#include "admin/common/message_texts.h"
#include "admin/common/messages.h"
#include "admin/common/registry_settings.h"
#include "port/process.h"
#include "port/registry.h"
#include "port/text.h"

namespace installation {

const char kPathNameKey[] = "SOFTWARE\\VELMORA\\Moxa3R\\0201/A\\PathName";
const char kEnvInfoKey[] = "SOFTWARE\\VELMORA\\Moxa3R\\0201/A\\EnvInfo";

namespace {

constexpr char kRootName[] = "HKEY_LOCAL_MACHINE";
constexpr char kInstallValue[] = "Path00";

// Value names and data are read into buffers of this size.
constexpr unsigned long kValueBufferSize = kMaxValueLength + 1;

// A registry file another user can change is not read; the program says so
// once, whether or not the lookup is a quiet one: without the line, the
// values it would have given are only missing.
void report_refused_registry() {
  static bool reported = false;
  std::string file;
  port::PathVerdict verdict;
  if (reported || !port::registry_refused(&file, &verdict)) return;
  reported = true;
  const std::string program = port::program_name();
  Diagnostics(program.c_str())
      .error("%s", change_refusal({"The registry file", file}, verdict, program + " ...").c_str());
}

void report_bad_value(const char* key_path, const char* value_name, Quiet quiet) {
  if (quiet == Quiet::kNo) emit_msg_text(500, kQtrm109BadRegistryValue, kRootName, key_path, value_name);
}

const char* tool_value_name(Tool tool) { return tool == Tool::kPerl ? "PerlPath" : "GzipPath"; }

// What the directory and the tools have in common: a string value with "/"
// separators. The value as it is read (none when missing, else possibly
// empty) stays visible to the int lookups, which tell the two apart.
std::optional<std::string> with_slashes(std::optional<std::string> value) {
  if (value && !value->empty()) swap_separators(value->data(), '\\', '/');
  return value;
}

// An empty tool path is unusable; only gzip's is worth a word.
bool usable_tool(Tool tool, const std::string& path, Quiet quiet) {
  if (!path.empty()) return true;
  if (quiet == Quiet::kNo && tool == Tool::kGzip) emit_msg(500, "LXC_MSG_613NT");
  return false;
}

bool usable_directory(const std::string& path, Quiet quiet) {
  if (!path.empty()) return true;
  report_bad_value(kPathNameKey, kInstallValue, quiet);
  return false;
}

}  // namespace

std::optional<std::string> string_value(const char* key_path, const char* value_name, Quiet quiet) {
  std::optional<std::string> found;
  port::RegKey key;
  const long opened = key.open_local_machine(key_path);
  if (opened == port::kRegAccessDenied) report_refused_registry();
  if (opened == port::kRegSuccess) {
    char name[kValueBufferSize];
    unsigned char data[kValueBufferSize];
    for (unsigned long index = 0; !found; ++index) {
      std::memset(name, 0, sizeof name);
      std::memset(data, 0, sizeof data);
      unsigned long name_size = sizeof name;
      unsigned long data_size = sizeof data;
      unsigned long type = 0;
      if (key.enum_value(index, name, &name_size, &type, data, &data_size) != port::kRegSuccess) break;
      if (data_size == 0 || std::strcmp(name, value_name) != 0) continue;
      // Data that fills the buffer has no terminator of its own.
      const void* end = std::memchr(data, '\0', data_size);
      const std::size_t length = end != nullptr ? static_cast<const unsigned char*>(end) - data : data_size;
      if (length >= sizeof data) break;
      found.emplace(reinterpret_cast<const char*>(data), length);
    }
    key.close();
  }
  if (!found) report_bad_value(key_path, value_name, quiet);
  return found;
}

std::optional<std::uint32_t> number_value(const char* key_path, const char* value_name, Quiet quiet) {
  port::RegKey key;
  const long opened = key.open_local_machine(key_path);
  if (opened == port::kRegAccessDenied) report_refused_registry();
  if (opened != port::kRegSuccess) {
    if (quiet == Quiet::kNo) emit_msg(500, "LXC_MSG_002", "RegOpenKeyEx", static_cast<int>(opened));
    return std::nullopt;
  }
  unsigned char data[4] = {};
  unsigned long size = sizeof data;
  unsigned long type = 0;
  const long queried = key.query_value(value_name, &type, data, &size);
  key.close();
  if (queried != port::kRegSuccess) {
    if (quiet == Quiet::kNo) emit_msg(500, "LXC_MSG_002", "RegQueryValueEx", static_cast<int>(queried));
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
         static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24;
}

std::optional<std::string> directory(Quiet quiet) {
  auto path = with_slashes(string_value(kPathNameKey, kInstallValue, quiet));
  if (path && !usable_directory(*path, quiet)) path.reset();
  return path;
}

std::optional<std::string> tool_path(Tool tool, Quiet quiet) {
  auto path = with_slashes(string_value(kEnvInfoKey, tool_value_name(tool), quiet));
  if (path && !usable_tool(tool, *path, quiet)) path.reset();
  return path;
}

std::optional<std::uint16_t> service_port(Quiet quiet) {
  const auto number = number_value(kEnvInfoKey, "CgiPortNo", quiet);
  if (!number) return std::nullopt;
  return static_cast<std::uint16_t>(*number & 0xFFFF);
}

void swap_separators(char* path, char from, char to) {
  for (char* p = path; *p != '\0'; ++p) {
    if (port::double_byte_at(p, 0)) {
      ++p;  // the second byte belongs to the character
    } else if (*p == from) {
      *p = to;
    }
  }
}

// ---- the lookups with int results ------------------------------------------

namespace {

// The caller's one-shot wish for silence, set back to 0 however the lookup ends.
struct QuietOnce {
  QuietOnce() : quiet(quiet_once == 1 ? Quiet::kYes : Quiet::kNo) {}
  ~QuietOnce() { quiet_once = 0; }
  const Quiet quiet;
};

// The flag as the lookups that only read it see it.
Quiet current_quiet() { return quiet_once == 1 ? Quiet::kYes : Quiet::kNo; }

// Values are at most kMaxValueLength bytes, which every caller's buffer takes.
int copy_out(const std::string& value, char* out) {
  std::memcpy(out, value.c_str(), value.size() + 1);
  return 0;
}

}  // namespace

}  // namespace installation

int quiet_once = 0;

char* read_reg_value(const char* key_path, const char* value_name) {
  const installation::Quiet quiet = installation::current_quiet();
  const auto value = installation::string_value(key_path, value_name, quiet);
  if (!value) return nullptr;
  char* copy = static_cast<char*>(std::malloc(value->size() + 1));
  // A copy that cannot be made is a value not found.
  if (copy == nullptr) {
    installation::report_bad_value(key_path, value_name, quiet);
    return nullptr;
  }
  std::memcpy(copy, value->c_str(), value->size() + 1);
  return copy;
}

int get_install_path(char* out) {
  const installation::QuietOnce once;
  if (out == nullptr) {
    if (once.quiet == installation::Quiet::kNo) emit_msg_text(500, kQtrm001SystemError, 11);
    return -1;
  }
  const auto path = installation::directory(once.quiet);
  return path ? installation::copy_out(*path, out) : -2;
}

int get_tool_path(int kind, char* out) {
  const installation::QuietOnce once;
  const bool quiet = once.quiet == installation::Quiet::kYes;
  if (out == nullptr) {
    if (!quiet) emit_msg(500, "LXC_MSG_001", 15);
    return -1;
  }
  if (kind != TOOL_PERL && kind != TOOL_GZIP) {
    if (!quiet) emit_msg(500, "LXC_MSG_001", 14);
    return -1;
  }
  const installation::Tool tool = kind == TOOL_PERL ? installation::Tool::kPerl : installation::Tool::kGzip;
  // Missing (-2) and empty (-1) are told apart here, so the value is read as it is.
  const auto path =
      installation::with_slashes(installation::string_value(installation::kEnvInfoKey,
                                                             installation::tool_value_name(tool), once.quiet));
  if (!path) return -2;
  return installation::usable_tool(tool, *path, once.quiet) ? installation::copy_out(*path, out) : -1;
}

int conv_path_sep(char* path, int mode) {
  const bool quiet = quiet_once == 1;
  if (path == nullptr) {
    if (!quiet) emit_msg(500, "LXC_MSG_001", 13);
    return -1;
  }
  if (mode != SEP_TO_SLASH && mode != SEP_TO_BACKSLASH) {
    if (!quiet) emit_msg(500, "LXC_MSG_001", 12);
    return -1;
  }
  if (mode == SEP_TO_SLASH) {
    installation::swap_separators(path, '\\', '/');
  } else {
    installation::swap_separators(path, '/', '\\');
  }
  return 0;
}
