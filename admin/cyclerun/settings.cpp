#include "admin/cyclerun/settings.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "admin/common/diagnostics.h"
#include "admin/common/settings_line.h"
#include "port/env.h"
#include "port/stream.h"
#include "port/text_reader.h"

namespace {

// A settings line holds at most 1559 characters besides its line break.
constexpr int kLineBufferSize = 1560;
// A name holds at most 31 bytes.
constexpr int kNameBufferSize = 32;

constexpr const char* kStoredNames[] = {
    "Access-Delay",     "Data-Directory",   "Debug-Options",     "Essence-Options",
    "Gatherer-Options", "Exportd-Inetd",    "Gatherer-Host",     "Gatherer-Name",
    "Gatherer-Port",    "Gatherer-Version", "HTTP-Basic-Auth",   "FTP-Auth",
    "Keep-Cache",       "Lib-Directory",    "Local-Mapping",     "Log-File",
    "Errorlog-File",    "Post-Summarizing", "Refresh-Rate",      "Time-To-Live",
    "Top-Directory",    "Working-Directory", "Lorvex-Lang",      "linkprunecmd",
    "keybuildcmd",      "agecullcmd",       "seedcmd",           "essencecmd",
    "storesealcmd",     "exportdcmd",
};
static_assert(sizeof kStoredNames / sizeof kStoredNames[0] == static_cast<int>(Setting::kCount));

// Names handed to the framework's tools through the environment.
bool is_exported(const char* name) {
  return std::strncmp(name, "KESTREL", 7) == 0 || std::strcmp(name, "TMPDIR") == 0 ||
         std::strncmp(name, "LXG_", 4) == 0 || std::strcmp(name, "http_proxy") == 0;
}

int stored_index(const char* name) {
  for (int i = 0; i < static_cast<int>(Setting::kCount); ++i) {
    if (std::strcmp(name, kStoredNames[i]) == 0) return i;
  }
  return -1;
}

[[noreturn]] void refuse(std::FILE* file, const char* path, int line_number, const char* what) {
  Diagnostics("cyclerun").error("%s: line %d: %s", path, line_number, what);
  std::fclose(file);
  std::exit(1);
}

}  // namespace

bool SettingsStore::set(Setting name, const char* value) {
  const std::size_t size = std::strlen(value) + 1;
  char* copy = static_cast<char*>(std::malloc(size));
  if (copy == nullptr) return false;
  std::memcpy(copy, value, size);
  char*& slot = slots_[static_cast<int>(name)];
  std::free(slot);
  slot = copy;
  return true;
}

void SettingsStore::release() {
  for (char*& slot : slots_) {
    std::free(slot);
    slot = nullptr;
  }
}

void read_settings(const char* path, SettingsStore* store) {
  std::FILE* file = port::open_file(path, "r");
  if (file == nullptr) {
    const int error = errno;
    Diagnostics("cyclerun").error("Cannot open %s (errno=%d).", path, error);
    std::exit(1);
  }
  char line[kLineBufferSize];
  char name[kNameBufferSize];
  char value[kLineBufferSize];
  SettingsLines lines(file, line, sizeof line, LongLine::kRefused);
  SettingsLines::Result result;
  while ((result = lines.next()) == SettingsLines::Result::kLine) {
    const int split = GetAttrVal(line, name, sizeof name, value, sizeof value);
    if (split == kAttrNameTooLong) refuse(file, path, lines.number(), "the name is longer than 31 bytes.");
    if (split != 0) {
      std::fclose(file);
      std::exit(1);
    }

    if (is_exported(name)) {
      port::put_env(line);
    } else if (const int index = stored_index(name); index >= 0) {
      if (!store->set(static_cast<Setting>(index), value)) {
        report_line_copy_failure();
        std::fclose(file);
        std::exit(1);
      }
    } else {
      Diagnostics("cyclerun").say("Warnig: %s is not processed.", line);
    }
  }
  switch (result) {
    case SettingsLines::Result::kZeroByte:
      refuse(file, path, lines.number(), "the line holds a zero byte.");
    case SettingsLines::Result::kTooLong:
      refuse(file, path, lines.number(), "the line is longer than 1559 characters.");
    case SettingsLines::Result::kReadError:
      // The cycle never runs on part of its settings.
      refuse(file, path, lines.number() + 1, "the line cannot be read.");
    default:
      break;
  }
  std::fclose(file);
}
