#pragma once
// Reading a registry file in the registry editor's text format ("REGEDIT4" or
// "Windows Registry Editor Version 5.00"), the per-machine store on POSIX.
// The parser takes any bytes: malformed lines are passed over.
#include <string>
#include <string_view>
#include <vector>

namespace port::posix {

struct RegistryValue {
  std::string name;  // "" for the default value ("@")
  unsigned long type = 0;
  std::vector<unsigned char> data;
};

struct RegistryKey {
  std::string path;                   // as the file wrote it, root included
  std::vector<RegistryValue> values;  // in file order
};

// The registry editor exports UTF-16 little-endian text after a byte order
// mark; the parser reads Shift_JIS. Turns such bytes into Shift_JIS in place
// (other bytes stay as they are). False when they cannot be: a character
// without a Shift_JIS form, or half a character at the end.
bool decode_registry_bytes(std::string* bytes);

// The keys the text defines once its deletions are applied.
std::vector<RegistryKey> parse_registry_text(const std::string& text);

// Registry names compare without regard to letter case; the bytes of a
// Shift_JIS double-byte character compare exactly.
bool registry_names_equal(std::string_view a, std::string_view b);

// The path without "\\" at its end (a double-byte character ending in 0x5C
// stays whole).
std::string_view without_trailing_separators(std::string_view path);

// The key with this full path, or null.
const RegistryKey* find_registry_key(const std::vector<RegistryKey>& keys, std::string_view path);

// Whether the key exists: written itself, or as the parent of a written key.
bool registry_key_exists(const std::vector<RegistryKey>& keys, std::string_view path);

}  // namespace port::posix
