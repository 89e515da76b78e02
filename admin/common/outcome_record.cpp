#include "admin/common/outcome_record.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <string_view>

#include "port/env.h"
#include "port/reader_text.h"
#include "port/text.h"

namespace {

constexpr char kVersion[] = "1";
constexpr char kCutMark[] = " ...";

bool is_control(unsigned char c) { return c < 0x20 || c == 0x7F; }

bool is_hex_digit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

// Decimal digits, judged digit by digit so that no number overflows: false
// for anything else or a value above the limit.
bool digits_within(std::string_view text, unsigned long long limit, unsigned long long* value) {
  if (text.empty() || text.size() > 20) return false;
  unsigned long long number = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    const unsigned digit = static_cast<unsigned>(c - '0');
    if (number > (limit - digit) / 10) return false;
    number = number * 10 + digit;
  }
  *value = number;
  return true;
}

// Decimal digits with an optional minus sign, within the bounds.
bool number_within(std::string_view text, long long low, long long high) {
  const bool negative = !text.empty() && text[0] == '-';
  unsigned long long magnitude = 0;
  if (!digits_within(text.substr(negative ? 1 : 0), 9223372036854775807ULL, &magnitude)) return false;
  const long long number = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
  return number >= low && number <= high;
}

// "exit N", "signal N" or "no-start N".
bool is_result(std::string_view value) {
  const std::size_t blank = value.find(' ');
  if (blank == std::string_view::npos) return false;
  const std::string_view word = value.substr(0, blank);
  const std::string_view number = value.substr(blank + 1);
  if (word == "exit") return number_within(number, -2147483648LL, 4294967295LL);
  if (word == "signal") return number_within(number, 1, 127);
  if (word == "no-start") return number_within(number, 0, 100000);
  return false;
}

// "DEVICE:INDEX:SIZE:MODIFIED", or "-".
bool is_identity(std::string_view value) {
  if (value == "-") return true;
  for (int part = 0; part < 4; ++part) {
    const std::size_t end = part < 3 ? value.find(':') : value.size();
    if (end == std::string_view::npos) return false;
    const std::string_view field = value.substr(0, end);
    unsigned long long unused = 0;
    const bool fits = part < 2 ? digits_within(field, ~0ULL, &unused)
                               : number_within(field, -9223372036854775807LL, 9223372036854775807LL);
    if (!fits) return false;
    value.remove_prefix(part < 3 ? end + 1 : end);
  }
  return true;
}

bool value_fits(const ValueRule& rule, const std::string& value) {
  switch (rule.kind) {
    case ValueKind::kWord:
      for (const char* const* word = rule.words; word != nullptr && *word != nullptr; ++word) {
        if (value == *word) return true;
      }
      return false;
    case ValueKind::kNumber: return number_within(value, rule.low, rule.high);
    case ValueKind::kResult: return is_result(value);
    case ValueKind::kIdentity: return is_identity(value);
    case ValueKind::kCycle: return value == kNoCycle || is_cycle_id(value);
    case ValueKind::kText: return value.size() <= kRecordTextLimit + sizeof kCutMark - 1;
  }
  return false;
}

const ValueRule* rule_of(const RecordSchema& schema, const std::string& key) {
  for (std::size_t i = 0; i < schema.count; ++i) {
    if (key == schema.rules[i].key) return &schema.rules[i];
  }
  return nullptr;
}

// A text as a record holds it: control bytes as \xNN, and at most the limit,
// cut after a whole character (of UTF-8, or of the system's encoding).
std::string record_text(const std::string& text, bool utf8) {
  std::string out;
  for (const char c : text) {
    if (is_control(static_cast<unsigned char>(c))) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(c));
      out += escaped;
    } else {
      out += c;
    }
  }
  if (out.size() <= kRecordTextLimit) return out;
  out.resize(kRecordTextLimit);
  if (utf8) {
    // The last character's first byte, and whether all its bytes are kept.
    std::size_t start = out.size();
    while (start > 0 && (static_cast<unsigned char>(out[start - 1]) & 0xC0) == 0x80) --start;
    if (start > 0) {
      const unsigned char lead = static_cast<unsigned char>(out[start - 1]);
      const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
      if (out.size() - (start - 1) < length) out.resize(start - 1);
    }
  } else if (port::ends_in_half_character(out)) {
    out.pop_back();
  }
  return out + kCutMark;
}

// The words of the three records.
const char* const kNotices[] = {"none", "told", "told-nonzero", "not-told", nullptr};
const char* const kCycleEnds[] = {"whole", "invalid", "no-start", nullptr};
const char* const kSealSteps[] = {"none",    "usage",       "directory", "no-database", "lock",
                                  "clean",   "consolidate", "index",     "replace",     "gathered",
                                  "dump",    "statistics",  "rendering", nullptr};
const char* const kDumpStates[] = {"new", "new-unreadable", "old", "none", nullptr};
const char* const kDumpSteps[] = {"none", "no-database", "lines", "lock", "no-gzip", "templates", "compress", "replace",
                                  nullptr};

const ValueRule kCyclerunRules[] = {
    {"linkprunecmd", ValueKind::kResult, false},
    {"agecullcmd", ValueKind::kResult, false},
    {"keybuildcmd", ValueKind::kResult, false},
    {"pipeline", ValueKind::kResult, false},
    {"storesealcmd", ValueKind::kResult, false},
    {"ended", ValueKind::kWord, true, kCycleEnds},
    {"notice", ValueKind::kWord, true, kNotices},
    {"data-directory", ValueKind::kText, false},
};
const ValueRule kStoresealRules[] = {
    {"status", ValueKind::kNumber, true, nullptr, 0, 255},
    {"failed", ValueKind::kWord, true, kSealSteps},
    {"line", ValueKind::kText, false},
    {"production", ValueKind::kIdentity, true},
    {"dump", ValueKind::kIdentity, true},
    {"dump-state", ValueKind::kWord, true, kDumpStates},
};
const ValueRule kPackdumpRules[] = {
    {"status", ValueKind::kNumber, true, nullptr, 0, 255},
    {"failed", ValueKind::kWord, true, kDumpSteps},
    {"line", ValueKind::kText, false},
    {"production", ValueKind::kIdentity, true},
    {"dump", ValueKind::kIdentity, true},
};

const char* const kLevels[] = {"information", "warning", "error", nullptr};
constexpr long long kLatest = 99999999999LL;  // seconds since 1970, far beyond any clock

const ValueRule kCycleBeganRules[] = {
    {"began", ValueKind::kText, true},
    {"began-at", ValueKind::kNumber, true, nullptr, 0, kLatest},
};
const ValueRule kLastCycleRules[] = {
    {"began", ValueKind::kText, true},
    {"began-at", ValueKind::kNumber, true, nullptr, 0, kLatest},
    {"ended", ValueKind::kText, true},
    {"status", ValueKind::kNumber, true, nullptr, 0, 255},
    {"level", ValueKind::kWord, true, kLevels},
    {"what", ValueKind::kText, true},
    {"last-clean-at", ValueKind::kNumber, false, nullptr, 0, kLatest},
};

}  // namespace

const RecordSchema kCycleBeganSchema{"lorvex-cycle", kCycleBeganRules, std::size(kCycleBeganRules)};
const RecordSchema kLastCycleSchema{"lorvex-cycle", kLastCycleRules, std::size(kLastCycleRules)};
const RecordSchema kCyclerunSchema{"cyclerun", kCyclerunRules, std::size(kCyclerunRules)};
const RecordSchema kStoresealSchema{"storeseal", kStoresealRules, std::size(kStoresealRules)};
const RecordSchema kPackdumpSchema{"packdump", kPackdumpRules, std::size(kPackdumpRules)};

bool is_cycle_id(const std::string& text) {
  if (text.size() != kCycleIdLength) return false;
  for (const char c : text) {
    if (!is_hex_digit(c)) return false;
  }
  return true;
}

std::string cycle_of_this_run() {
  const char* value = port::get_env(kCycleIdVariable);
  return value != nullptr && is_cycle_id(value) ? value : kNoCycle;
}

RecordWriter::RecordWriter(const char* program, const std::string& cycle) {
  text_ = std::string("version=") + kVersion + "\nprogram=" + program + "\ncycle=" +
          (is_cycle_id(cycle) ? cycle : std::string(kNoCycle)) + "\n";
}

void RecordWriter::add(const char* key, const std::string& value) { text_ += std::string(key) + "=" + value + "\n"; }

void RecordWriter::add_text(const char* key, const std::string& text) { add(key, record_text(text, false)); }

void RecordWriter::add_text_for_reader(const char* key, const std::string& text) {
  add(key, record_text(port::text_for_reader(text, port::TextFor::kRecord), true));
}

void RecordWriter::add_number(const char* key, long long value) { add(key, std::to_string(value)); }

int RecordWriter::write(const std::string& path) const {
  return port::write_whole_file(path.c_str(), text_.data(), text_.size());
}

const std::string& Record::get(const std::string& key) const {
  static const std::string none;
  const auto found = values_.find(key);
  return found == values_.end() ? none : found->second;
}

bool parse_record(const std::string& text, const RecordSchema& schema, const std::string& cycle, Record* record,
                  std::string* why) {
  const auto refuse = [why](const std::string& reason) {
    *why = reason;
    return false;
  };
  record->values().clear();
  if (text.size() > kRecordLimit) return refuse("it is longer than " + std::to_string(kRecordLimit) + " bytes");
  if (text.empty() || text.back() != '\n') return refuse("its last line is not whole");
  std::set<std::string> seen;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    for (const char c : line) {
      if (is_control(static_cast<unsigned char>(c))) return refuse("it holds a control byte");
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos || equals == 0) return refuse("a line of it is no key=value line");
    const std::string key = line.substr(0, equals);
    const std::string value = line.substr(equals + 1);
    if (!seen.insert(key).second) return refuse("its key " + key + " comes twice");
    if (key == "version") {
      if (value != kVersion) return refuse("its version is not " + std::string(kVersion));
    } else if (key == "program") {
      if (value != schema.program) return refuse("it is no record of " + std::string(schema.program));
    } else if (key == "cycle") {
      if (value != kNoCycle && !is_cycle_id(value)) return refuse("its cycle is no cycle id");
      if (!cycle.empty() && value != cycle) return refuse("it is the record of another cycle");
    } else {
      const ValueRule* rule = rule_of(schema, key);
      if (rule == nullptr) return refuse("its key " + key + " is unknown");
      if (!value_fits(*rule, value)) return refuse("its " + key + " is out of range");
    }
    record->values()[key] = value;
  }
  for (const char* key : {"version", "program", "cycle"}) {
    if (seen.count(key) == 0) return refuse("it has no " + std::string(key));
  }
  for (std::size_t i = 0; i < schema.count; ++i) {
    if (schema.rules[i].required && seen.count(schema.rules[i].key) == 0) {
      return refuse("it has no " + std::string(schema.rules[i].key));
    }
  }
  return true;
}

bool read_record(const std::string& path, const RecordSchema& schema, const std::string& cycle,
                 unsigned long tree_owner, Record* record, std::string* why) {
  port::SmallFile file;
  switch (port::read_small_file(path.c_str(), kRecordLimit, &file)) {
    case port::SmallRead::kRead: break;
    case port::SmallRead::kMissing: *why = "there is none"; return false;
    case port::SmallRead::kNotRegular: *why = "it is no regular file"; return false;
    case port::SmallRead::kTooLarge: *why = "it is longer than " + std::to_string(kRecordLimit) + " bytes"; return false;
    case port::SmallRead::kUnreadable:
      // A reader never sits out another process's lease.
      *why = errno == EWOULDBLOCK ? std::string("another process holds a lease on it")
                                  : "it cannot be read (errno=" + std::to_string(errno) + ")";
      return false;
  }
  // Only whoever runs the cycle, or root, may have written it.
  if (file.owner != 0 && file.owner != tree_owner) {
    *why = "it belongs to user " + std::to_string(file.owner);
    return false;
  }
  if (file.others_may_write) {
    *why = "others may write it";
    return false;
  }
  return parse_record(file.bytes, schema, cycle, record, why);
}

std::string result_value(int status, int signal, int start_errno) {
  if (status == -1 && start_errno != 0) return "no-start " + std::to_string(start_errno);
  if (signal != 0) return "signal " + std::to_string(signal);
  return "exit " + std::to_string(status);
}

std::string result_words(const std::string& value) {
  const std::size_t blank = value.find(' ');
  const std::string number = blank == std::string::npos ? "" : value.substr(blank + 1);
  if (value.compare(0, blank, "signal") == 0) return "was killed by signal " + number;
  if (value.compare(0, blank, "no-start") == 0) return "could not be started (errno=" + number + ")";
  return "ended with status " + number;
}

bool result_clean(const std::string& value) { return value == "exit 0"; }

std::string identity_value(const port::FileIdentity& identity) {
  return std::to_string(identity.device) + ":" + std::to_string(identity.index) + ":" + std::to_string(identity.size) +
         ":" + std::to_string(identity.modified);
}

std::string identity_value(const char* path) {
  port::FileIdentity identity;
  return port::file_identity(path, &identity) == 0 ? identity_value(identity) : "-";
}
