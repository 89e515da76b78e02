// The harness: the registry the programs read, natively a file, under Wine the prefix's.
#include "tests/programs/harness.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace lxt {

// ---- registry --------------------------------------------------------------

std::string reg_string(const std::string& text) {
  std::string quoted = "\"";
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) && i + 1 < text.size()) {
      quoted += text.substr(i, 2);
      ++i;
      continue;
    }
    if (c == '\\' || c == '"') quoted += '\\';
    quoted += static_cast<char>(c);
  }
  return quoted + "\"";
}

std::string reg_dword(int value) {
  char text[32];
  std::snprintf(text, sizeof text, "dword:%08x", value);
  return text;
}

namespace {
const char kSystemKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMORA";
const char kProductKey[] = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMORA\\Moxa3R\\0201/A\\";
}  // namespace

std::string registry_text(const RegistryKeys& keys) {
  std::string text = "REGEDIT4\n\n";
  if (keys.path00) text += kProductKey + std::string("PathName]\n\"Path00\"=") + reg_string(*keys.path00) + "\n\n";
  if (keys.env_info) text += kProductKey + std::string("EnvInfo]\n") + *keys.env_info;
  return text;
}

Registry::Registry() = default;

Registry::~Registry() {
  if (!is_wine()) ::unsetenv("LORVEX_REGISTRY");
}

namespace {

// Shift_JIS text as UTF-16LE with a byte order mark.
std::string utf16_export(const std::string& sjis) { return "\xFF\xFE" + convert(sjis, "UTF-16LE", "CP932"); }

}  // namespace

bool Registry::write(const std::string& reg_text, bool utf16) {
  if (!is_wine()) {
    const std::string path = dir_.file("registry.reg");
    write_file(path, utf16 ? utf16_export(reg_text) : reg_text);
    ::setenv("LORVEX_REGISTRY", path.c_str(), 1);
    return true;
  }
  // The header line first, then the removal of what an earlier test left,
  // then the test's own keys.
  const size_t eol = reg_text.find('\n');
  std::string header = reg_text.substr(0, eol == std::string::npos ? reg_text.size() : eol);
  if (!header.empty() && header.back() == '\r') header.pop_back();
  std::string rest = eol == std::string::npos ? std::string() : reg_text.substr(eol + 1);
  std::string text = header + "\r\n\r\n[-" + kSystemKey + "]\r\n\r\n" + rest;
  dir_.write("import.reg", utf16 ? utf16_export(text) : text);
  RunResult r = run({"regedit", "/S", dir_.host("import.reg")});
  if (r.status != 0) {
    ADD_FAILURE() << "regedit failed with " << r.status << ": " << r.err;
    return false;
  }
  return true;
}

}  // namespace lxt
