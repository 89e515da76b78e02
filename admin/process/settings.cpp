#include "admin/process/settings.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "admin/common/command_line.h"
#include "admin/common/settings_line.h"
#include "port/env.h"
#include "port/stream.h"
#include "port/text.h"
#include "port/text_reader.h"

ProcessSettings::ProcessSettings(const KeyRule* rules, int count) {
  count_ = count < kMaxRules ? count : kMaxRules;
  for (int i = 0; i < count_; ++i) slots_[i].rule = rules[i];
}

const char* ProcessSettings::get(const char* name) const {
  for (int i = 0; i < count_; ++i) {
    if (slots_[i].present && std::strcmp(slots_[i].rule.name, name) == 0) return slots_[i].value;
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

void ProcessSettings::take(const char* line, const char* name, const char* value) {
  for (int i = 0; i < count_; ++i) {
    Slot& slot = slots_[i];
    if (std::strcmp(slot.rule.name, name) != 0) continue;
    if (slot.rule.use == KeyUse::kSkip) return;
    // The value came out of a line of this size, so it fits.
    std::snprintf(slot.value, sizeof slot.value, "%s", value);
    slot.present = true;
    if (slot.rule.use == KeyUse::kKeepAndExport) port::put_env(line);
    return;
  }
  port::put_env(line);
}

ReadResult ProcessSettings::read(const char* path) {
  std::FILE* file = port::open_file(path, "r");
  if (file == nullptr) {
    open_error_ = errno;
    return ReadResult::kCannotOpen;
  }
  const ReadResult result = read(file);
  std::fclose(file);
  return result;
}

ReadResult ProcessSettings::read(std::FILE* file) {
  char line[kProcessLineSize];
  char name[kProcessLineSize];
  char value[kProcessLineSize];
  SettingsLines lines(file, line, sizeof line, LongLine::kInPieces);
  SettingsLines::Result result;
  while ((result = lines.next()) == SettingsLines::Result::kLine) {
    if (GetAttrVal(line, name, sizeof name, value, sizeof value) != 0) return ReadResult::kInvalid;
    take(line, name, value);
  }
  // A line with a zero byte is not taken, and no program goes on with part
  // of its settings.
  return result == SettingsLines::Result::kEnd ? ReadResult::kRead : ReadResult::kInvalid;
}
