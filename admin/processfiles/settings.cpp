#include "admin/processfiles/settings.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "admin/common/command_line.h"
#include "admin/common/diagnostics.h"
#include "admin/common/settings_line.h"
#include "port/env.h"
#include "port/file.h"
#include "port/text.h"

ProcessSettings::ProcessSettings(const KeyRule* rules, int count, OtherLines other) : other_(other) {
  count_ = count < kMaxRules ? count : kMaxRules;
  for (int i = 0; i < count_; ++i) slots_[i].rule = rules[i];
}

const char* ProcessSettings::get(const char* name) const {
  for (int i = 0; i < count_; ++i) {
    if (slots_[i].present && std::strcmp(slots_[i].rule.name, name) == 0) return slots_[i].value.c_str();
  }
  return nullptr;
}

const char* ProcessSettings::key_ending_in_half_character(std::initializer_list<const char*> names) const {
  for (const char* name : names) {
    const char* value = get(name);
    if (value != nullptr && port::ends_in_half_character(value)) return name;
  }
  return nullptr;
}

bool ProcessSettings::take(const char* line, const char* name, const char* value) {
  for (int i = 0; i < count_; ++i) {
    Slot& slot = slots_[i];
    if (std::strcmp(slot.rule.name, name) != 0) continue;
    if (slot.rule.use == KeyUse::kSkip) return true;
    if (!slot.rule.directory) {
      slot.value = value;
    } else if (port::absolute_path(value, &slot.value) != 0) {
      Diagnostics("GetAttrVal").error("The current directory cannot be had for %s (errno=%d).", name, errno);
      return false;
    }
    slot.present = true;
    if (slot.rule.use == KeyUse::kKeepAndExport && other_ == OtherLines::kExport) {
      port::put_env((std::string(name) + "=" + slot.value).c_str());
    }
    return true;
  }
  if (other_ == OtherLines::kExport) port::put_env(line);
  return true;
}

// Every line is taken or the file refused: a line with a zero byte is not
// taken, and no program goes on with part of its settings.
ReadResult ProcessSettings::result_of(const SettingsOutcome& outcome) {
  switch (outcome.kind) {
    case SettingsOutcome::Kind::kRead:
      return ReadResult::kRead;
    case SettingsOutcome::Kind::kOthersCanChange:
      refused_ = outcome.verdict;
      open_error_ = outcome.error;
      return ReadResult::kCannotOpen;
    case SettingsOutcome::Kind::kCannotOpen:
      open_error_ = outcome.error;
      return ReadResult::kCannotOpen;
    case SettingsOutcome::Kind::kOtherEncoding:
      encoding_ = outcome.encoding;
      return ReadResult::kOtherEncoding;
    default:
      return ReadResult::kInvalid;
  }
}

ReadResult ProcessSettings::read(const char* path) {
  return result_of(read_settings_file(path, kShape, *this));
}

ReadResult ProcessSettings::read(std::FILE* file) {
  return result_of(read_settings_stream(file, kShape, *this));
}
