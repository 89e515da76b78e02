// The settings reader of the process-control programs takes any file without
// reading or writing past a line, keeps only values that fit, and puts into
// the environment nothing but NAME=value lines. The environment is put back
// after each input, so that inputs do not pile up variables.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "admin/processfiles/settings.h"
#include "port/env.h"

namespace {

// The keys of the gatherer's launcher: kept, kept and exported, skipped.
constexpr KeyRule kRules[] = {
    {"GATHERER_NAME", KeyUse::kKeep},
    {"KESTREL_HOME", KeyUse::kKeepAndExport},
    {"GATHERER_DATA", KeyUse::kSkip},
    {"GATHERER_PORT", KeyUse::kSkip},
};

// The names the reader could set: the text before the first "=" of each piece
// of a line, as the reader cuts them (a carriage return before a line feed
// dropped, at most kProcessLineSize - 1 bytes a piece).
std::vector<std::string> candidate_names(const uint8_t* data, size_t size) {
  std::string text;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\r' && i + 1 < size && data[i + 1] == '\n') continue;
    text += static_cast<char>(data[i]);
  }
  std::vector<std::string> names;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = start;
    while (end < text.size() && end - start < kProcessLineSize - 1) {
      if (text[end++] == '\n') break;
    }
    const std::string piece = text.substr(start, end - start);
    const size_t equals = piece.find('=');
    if (equals != std::string::npos && equals > 0) {
      const std::string name = piece.substr(0, equals);
      if (name.find('\0') == std::string::npos) names.push_back(name);
    }
    start = end;
  }
  return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::vector<std::pair<std::string, std::string>> saved;  // name, old value
  std::vector<std::string> unset;
  for (const std::string& name : candidate_names(data, size)) {
    const char* old = port::get_env(name.c_str());
    if (old != nullptr) {
      saved.emplace_back(name, old);
    } else {
      unset.push_back(name);
    }
  }

  std::FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "r");
  if (file == nullptr) return 0;
  ProcessSettings settings(kRules);
  const ReadResult result = settings.read(file);
  std::fclose(file);
  if (result == ReadResult::kCannotOpen) __builtin_trap();
  for (const KeyRule& rule : kRules) {
    const char* value = settings.get(rule.name);
    if (value == nullptr) continue;
    // A skipped key is never kept; a kept value is one line's, never empty.
    if (rule.use == KeyUse::kSkip) __builtin_trap();
    const size_t length = std::strlen(value);
    if (length == 0 || length >= kProcessLineSize || std::memchr(value, '\n', length) != nullptr) __builtin_trap();
  }

  for (const std::string& name : unset) (void)port::put_env((name + "=").c_str());
  for (const auto& [name, value] : saved) (void)port::put_env((name + "=" + value).c_str());
  return 0;
}
