#pragma once
// The per-machine registry (HKEY_LOCAL_MACHINE). On POSIX it is a registry file
// in the registry editor's text format named by LORVEX_REGISTRY.

#include <string>

#include "port/change_rule.h"

namespace port {

// Error codes, as the registry functions return them.
constexpr long kRegSuccess = 0;
constexpr long kRegFileNotFound = 2;
// On POSIX also a registry file that exists but cannot be read or decoded.
constexpr long kRegAccessDenied = 5;
constexpr long kRegMoreData = 234;
constexpr long kRegNoMoreItems = 259;

// Value types.
constexpr unsigned long kRegSz = 1;
constexpr unsigned long kRegBinary = 3;
constexpr unsigned long kRegDword = 4;

// Whether an open found the registry file to be one that another user can
// change (POSIX): such a file is not read, and the open fails with
// kRegAccessDenied. True with the file's name and what lets the other user
// in; always false on Windows, whose registry has access lists of its own.
bool registry_refused(std::string* file, PathVerdict* verdict);

class RegKey {
 public:
  RegKey() = default;
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  ~RegKey();

  // Opens HKEY_LOCAL_MACHINE\subkey for reading (key names are matched
  // without regard to letter case). Returns kRegSuccess or an error code.
  long open_local_machine(const char* subkey);

  // RegEnumValueA: *name_size is the name buffer's capacity in characters
  // (terminator included) on entry and the name's length on return;
  // *data_size the data capacity in bytes on entry and the data's size on
  // return. kRegMoreData when either does not fit, kRegNoMoreItems past the end.
  long enum_value(unsigned long index, char* name, unsigned long* name_size,
                  unsigned long* type, unsigned char* data, unsigned long* data_size);

  // RegQueryValueExA by name (case-insensitive, as the registry does).
  long query_value(const char* name, unsigned long* type, unsigned char* data,
                   unsigned long* data_size);

  void close();

 private:
  void* impl_ = nullptr;
};

}  // namespace port
