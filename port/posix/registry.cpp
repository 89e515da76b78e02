// HKEY_LOCAL_MACHINE on POSIX: a registry file read anew at every open, so
// that a changed file is seen by the next reader as a changed registry is.
#include "port/registry.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "port/file.h"
#include "port/posix/registry_file.h"

namespace port {

namespace {

constexpr char kDefaultRegistryFile[] = "/etc/lorvex/registry.reg";
constexpr char kRoot[] = "HKEY_LOCAL_MACHINE";
constexpr long kRegInvalidHandle = 6;
constexpr long kRegInvalidParameter = 87;

struct OpenKey {
  std::vector<posix::RegistryValue> values;
};

// The whole file, or "" when it cannot be read (no keys then).
std::string read_registry_file() {
  const char* name = std::getenv("LORVEX_REGISTRY");
  if (name == nullptr || *name == '\0') name = kDefaultRegistryFile;
  std::string text;
  std::FILE* file = open_file(name, "rb");
  if (file == nullptr) return text;
  char buffer[4096];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) text.clear();
  return text;
}

// Copies the data as RegQueryValueExA does: the size is always reported,
// the bytes only when a buffer is given and they fit.
long copy_data(const posix::RegistryValue& value, unsigned long* type, unsigned char* data,
               unsigned long* data_size) {
  if (data != nullptr && data_size == nullptr) return kRegInvalidParameter;
  if (type != nullptr) *type = value.type;
  if (data_size == nullptr) return kRegSuccess;
  const unsigned long needed = static_cast<unsigned long>(value.data.size());
  const unsigned long capacity = *data_size;
  *data_size = needed;
  if (data == nullptr) return kRegSuccess;
  if (needed > capacity) return kRegMoreData;
  if (needed > 0) std::memcpy(data, value.data.data(), needed);
  return kRegSuccess;
}

}  // namespace

RegKey::~RegKey() { close(); }

long RegKey::open_local_machine(const char* subkey) {
  close();
  std::string path = kRoot;
  if (subkey != nullptr && *subkey != '\0') path += std::string("\\") + subkey;
  const std::string_view wanted = posix::without_trailing_separators(path);
  const std::vector<posix::RegistryKey> keys = posix::parse_registry_text(read_registry_file());
  if (!posix::registry_key_exists(keys, wanted)) return kRegFileNotFound;
  auto* key = new OpenKey;
  if (const posix::RegistryKey* found = posix::find_registry_key(keys, wanted)) key->values = found->values;
  impl_ = key;
  return kRegSuccess;
}

long RegKey::enum_value(unsigned long index, char* name, unsigned long* name_size, unsigned long* type,
                        unsigned char* data, unsigned long* data_size) {
  const auto* key = static_cast<const OpenKey*>(impl_);
  if (key == nullptr) return kRegInvalidHandle;
  if (name == nullptr || name_size == nullptr) return kRegInvalidParameter;
  if (index >= key->values.size()) return kRegNoMoreItems;
  const posix::RegistryValue& value = key->values[index];
  // The name must fit with its terminating zero.
  if (value.name.size() + 1 > *name_size) return kRegMoreData;
  const long rc = copy_data(value, type, data, data_size);
  if (rc != kRegSuccess) return rc;
  std::memcpy(name, value.name.c_str(), value.name.size() + 1);
  *name_size = static_cast<unsigned long>(value.name.size());
  return kRegSuccess;
}

long RegKey::query_value(const char* name, unsigned long* type, unsigned char* data, unsigned long* data_size) {
  const auto* key = static_cast<const OpenKey*>(impl_);
  if (key == nullptr) return kRegInvalidHandle;
  const std::string wanted = name ? name : "";
  for (const posix::RegistryValue& value : key->values) {
    if (posix::registry_names_equal(value.name, wanted)) return copy_data(value, type, data, data_size);
  }
  return kRegFileNotFound;
}

void RegKey::close() {
  delete static_cast<OpenKey*>(impl_);
  impl_ = nullptr;
}

}  // namespace port
