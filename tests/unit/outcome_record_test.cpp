// The records of the cycle's outcome: what a writer keeps of a text is what
// a reader takes back.
#include <gtest/gtest.h>

#include <string>

#include "admin/common/outcome_record.h"

namespace {

std::string last_cycle_with(const std::string& what) {
  RecordWriter record("lorvex-cycle", "-");
  record.add_text("began", "20261210 06:00:00");
  record.add_number("began-at", 1765346400);
  record.add_text("ended", "20261210 06:10:00");
  record.add_number("status", 1);
  record.add("level", "error");
  record.add_text_for_reader("what", what);
  return record.text();
}

// The cycle command's text is for people: UTF-8, its controls shown; one
// too long is cut after a whole character, and the reader takes it.
TEST(OutcomeRecord, TextForReadersIsUtf8AndCutAfterAWholeCharacter) {
  struct Row {
    const char* what;
    std::string text;      // Shift_JIS, as the cycle command has it
    std::string kept;      // the value read back
  };
  const std::string a_sjis = "\x82\xa0", a_utf8 = "\xe3\x81\x82";
  std::string long_sjis = "x", long_utf8 = "x";
  for (int i = 0; i < 400; ++i) long_sjis += a_sjis, long_utf8 += a_utf8;
  // 1 + 341 characters of 3 bytes make 1024: the 342nd is left out whole.
  const Row rows[] = {
      {"a path with a title's escape", "/g/\x1b]2;T\x07" + a_sjis, "/g/\\e]2;T\\x07" + a_utf8},
      {"a text longer than a record's text", long_sjis, long_utf8.substr(0, 1 + 341 * 3) + " ..."},
  };
  for (const Row& row : rows) {
    Record record;
    std::string why;
    ASSERT_TRUE(parse_record(last_cycle_with(row.text), kLastCycleSchema, kNoCycle, &record, &why))
        << row.what << ": " << why;
    EXPECT_EQ(record.get("what"), row.kept) << row.what;
  }
}

}  // namespace
