// The per-machine registry on Windows: the registry functions themselves, with
// their buffer rules passed through unchanged.
#include "port/registry.h"

#include <windows.h>

namespace port {

namespace {

HKEY key_of(void* impl) { return static_cast<HKEY>(impl); }

}  // namespace

bool registry_refused(std::string*, PathVerdict*) { return false; }

RegKey::~RegKey() { close(); }

long RegKey::open_local_machine(const char* subkey) {
  close();
  HKEY key = nullptr;
  LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_READ, &key);
  if (result == ERROR_SUCCESS) impl_ = key;
  return result;
}

long RegKey::enum_value(unsigned long index, char* name, unsigned long* name_size,
                        unsigned long* type, unsigned char* data, unsigned long* data_size) {
  if (impl_ == nullptr) return ERROR_INVALID_HANDLE;
  return RegEnumValueA(key_of(impl_), index, name, name_size, nullptr, type, data, data_size);
}

long RegKey::query_value(const char* name, unsigned long* type, unsigned char* data,
                         unsigned long* data_size) {
  if (impl_ == nullptr) return ERROR_INVALID_HANDLE;
  return RegQueryValueExA(key_of(impl_), name, nullptr, type, data, data_size);
}

void RegKey::close() {
  if (impl_ != nullptr) RegCloseKey(key_of(impl_));
  impl_ = nullptr;
}

}  // namespace port
