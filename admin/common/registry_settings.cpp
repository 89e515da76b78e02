#include "admin/common/registry_settings.h"

#include <cstdlib>
#include <cstring>

#include "admin/common/message_texts.h"
#include "admin/common/messages.h"
#include "port/registry.h"
#include "port/text.h"

int quiet_once = 0;
const char kEnvInfoKeyPath[] = "SOFTWARE\\VELMORA\\Moxa3R\\0201/A\\EnvInfo";

namespace {

constexpr char kRootName[] = "HKEY_LOCAL_MACHINE";
constexpr char kPathNameKey[] = "SOFTWARE\\VELMORA\\Moxa3R\\0201/A\\PathName";

// Value names and data are read into buffers of this size.
constexpr unsigned long kValueBufferSize = 257;

// Sets quiet_once back to 0 however the lookup ends.
struct QuietReset {
  ~QuietReset() { quiet_once = 0; }
};

void report_bad_value(const char* key_path, const char* value_name) {
  if (quiet_once != 1) emit_msg_text(500, kQtrm109BadRegistryValue, kRootName, key_path, value_name);
}

}  // namespace

char* read_reg_value(const char* key_path, const char* value_name) {
  char* found = nullptr;
  port::RegKey key;
  if (key.open_local_machine(key_path) == port::kRegSuccess) {
    char name[kValueBufferSize];
    unsigned char data[kValueBufferSize];
    for (unsigned long index = 0; found == nullptr; ++index) {
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
      found = static_cast<char*>(std::malloc(length + 1));
      if (found != nullptr) {
        std::memcpy(found, data, length);
        found[length] = '\0';
      }
    }
    key.close();
  }
  if (found == nullptr) report_bad_value(key_path, value_name);
  return found;
}

int get_install_path(char* out) {
  QuietReset reset;
  if (out == nullptr) {
    if (quiet_once != 1) emit_msg_text(500, kQtrm001SystemError, 11);
    return -1;
  }
  char* value = read_reg_value(kPathNameKey, "Path00");
  if (value == nullptr) return -2;
  int result = 0;
  if (value[0] == '\0') {
    report_bad_value(kPathNameKey, "Path00");
    result = -2;
  } else {
    conv_path_sep(value, SEP_TO_SLASH);
    std::strcpy(out, value);
  }
  std::free(value);
  return result;
}

int get_tool_path(int kind, char* out) {
  QuietReset reset;
  if (out == nullptr) {
    if (quiet_once != 1) emit_msg(500, "LXC_MSG_001", 15);
    return -1;
  }
  const char* value_name = kind == TOOL_PERL ? "PerlPath" : kind == TOOL_GZIP ? "GzipPath" : nullptr;
  if (value_name == nullptr) {
    if (quiet_once != 1) emit_msg(500, "LXC_MSG_001", 14);
    return -1;
  }
  char* value = read_reg_value(kEnvInfoKeyPath, value_name);
  if (value == nullptr) return -2;
  int result = 0;
  if (value[0] == '\0') {
    if (quiet_once != 1 && kind == TOOL_GZIP) emit_msg(500, "LXC_MSG_613NT");
    result = -1;
  } else {
    conv_path_sep(value, SEP_TO_SLASH);
    std::strcpy(out, value);
  }
  std::free(value);
  return result;
}

int conv_path_sep(char* path, int mode) {
  if (path == nullptr) {
    if (quiet_once != 1) emit_msg(500, "LXC_MSG_001", 13);
    return -1;
  }
  char from = 0;
  char to = 0;
  if (mode == SEP_TO_SLASH) {
    from = '\\';
    to = '/';
  } else if (mode == SEP_TO_BACKSLASH) {
    from = '/';
    to = '\\';
  } else {
    if (quiet_once != 1) emit_msg(500, "LXC_MSG_001", 12);
    return -1;
  }
  for (char* p = path; *p != '\0'; ++p) {
    if (port::is_lead_byte(static_cast<unsigned char>(*p)) && p[1] != '\0') {
      ++p;  // the trail byte belongs to the character
    } else if (*p == from) {
      *p = to;
    }
  }
  return 0;
}
