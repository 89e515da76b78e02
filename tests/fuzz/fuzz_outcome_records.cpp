// The outcome records' reader takes any bytes; what it accepts holds only
// known keys with values of their kinds, and reads back the same once
// written again; whatever the writer is given, it writes a record the reader
// takes. The statistics' count is read by its plain description.
#include <cstddef>
#include <cstdint>
#include <regex>
#include <string>

#include "admin/common/outcome_record.h"
#include "admin/lorvexstatus/records.h"

namespace {

const RecordSchema* const kSchemas[] = {&kCyclerunSchema, &kStoresealSchema, &kPackdumpSchema, &kCycleBeganSchema,
                                        &kLastCycleSchema};

void check_reading(const std::string& text) {
  for (const RecordSchema* schema : kSchemas) {
    Record record;
    std::string why;
    if (!parse_record(text, *schema, "", &record, &why)) {
      if (why.empty()) __builtin_trap();
      continue;
    }
    if (text.size() > kRecordLimit || record.get("program") != schema->program) __builtin_trap();
    std::string again;
    for (const auto& [key, value] : record.values()) again += key + "=" + value + "\n";
    Record reread;
    if (!parse_record(again, *schema, "", &reread, &why) || reread.values() != record.values()) __builtin_trap();
  }
}

void check_writing(const std::string& text) {
  RecordWriter writer("storeseal", kNoCycle);
  writer.add_number("status", 1);
  writer.add("failed", "dump");
  writer.add_text("line", text);
  writer.add("production", "-");
  writer.add("dump", "-");
  writer.add("dump-state", "none");
  Record record;
  std::string why;
  if (!parse_record(writer.text(), kStoresealSchema, kNoCycle, &record, &why)) __builtin_trap();
}

// Blanks, up to twelve digits without regard to leading zeros' count, then
// blanks or line ends only.
long long expected_count(const std::string& text) {
  static const std::regex count("[ \\t]*0*([0-9]{1,12})[ \\t\\r\\n]*");
  std::smatch match;
  if (text.find('\0') != std::string::npos) return -2;  // not compared: the reader stops there
  return std::regex_match(text, match, count) ? std::stoll(match[1].str()) : -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  check_reading(text);
  check_writing(text);
  const long long want = expected_count(text);
  if (want != -2 && count_value(text.c_str()) != want) __builtin_trap();
  return 0;
}
