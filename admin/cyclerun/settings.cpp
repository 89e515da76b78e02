#include "admin/cyclerun/settings.h"

#include <cstdlib>
#include <cstring>

#include "admin/common/diagnostics.h"
#include "admin/common/settings_line.h"
#include "port/env.h"

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

[[noreturn]] void refuse(const char* path, int line_number, const char* what) {
  Diagnostics("cyclerun").error("%s: line %d: %s", path, line_number, what);
  std::exit(1);
}

// Exports the environment lines, keeps the cycle's names, warns about the rest.
class CycleTaker final : public SettingsTaker {
 public:
  explicit CycleTaker(SettingsStore* store) : store_(store) {}
  bool take(const char* line, const char* name, const char* value) override {
    if (is_exported(name)) {
      port::put_env(line);
    } else if (const int index = stored_index(name); index >= 0) {
      if (!store_->set(static_cast<Setting>(index), value)) {
        report_line_copy_failure();
        return false;
      }
    } else {
      Diagnostics("cyclerun").say("Warnig: %s is not processed.", line);
    }
    return true;
  }

 private:
  SettingsStore* store_;
};

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
  CycleTaker taker(store);
  const SettingsOutcome outcome =
      read_settings_file(path, {kLineBufferSize, kNameBufferSize, LongLine::kRefused}, taker);
  switch (outcome.kind) {
    case SettingsOutcome::Kind::kRead:
      return;
    case SettingsOutcome::Kind::kCannotOpen:
      Diagnostics("cyclerun").error("Cannot open %s (errno=%d).", path, outcome.error);
      std::exit(1);
    case SettingsOutcome::Kind::kUnsplit:
      if (outcome.split == kAttrNameTooLong) refuse(path, outcome.line, "the name is longer than 31 bytes.");
      std::exit(1);
    case SettingsOutcome::Kind::kNotTaken:
      std::exit(1);
    case SettingsOutcome::Kind::kZeroByte:
      refuse(path, outcome.line, "the line holds a zero byte.");
    case SettingsOutcome::Kind::kTooLong:
      refuse(path, outcome.line, "the line is longer than 1559 characters.");
    case SettingsOutcome::Kind::kReadError:
      // The cycle never runs on part of its settings.
      refuse(path, outcome.line, "the line cannot be read.");
    case SettingsOutcome::Kind::kOtherEncoding:
      Diagnostics("cyclerun").error("%s %s.", path, other_encoding_refusal(outcome.encoding).c_str());
      std::exit(1);
  }
}
