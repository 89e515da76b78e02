// Shift_JIS text for a reader: byte strings in, what a reader is shown out.
#include <gtest/gtest.h>

#include <string>

#include "port/reader_text.h"

namespace {

using port::LineBreaks;
using port::TextFor;

TEST(ReaderText, DecodedEscapedAndEncodedAsUtf8) {
  struct Row {
    const char* what;
    std::string shift_jis;
    std::string shown;
    LineBreaks breaks = LineBreaks::kShown;
  };
  const Row rows[] = {
      {"plain ASCII", "sec-a: all fine", "sec-a: all fine"},
      {"a double-byte character", "\x82\xa0", "\xe3\x81\x82"},
      {"a half-width katakana", "\xb1", "\xef\xbd\xb1"},
      {"a second byte with the code of \"\\\"", "\x95\x5c", "\xe8\xa1\xa8"},
      {"a character of code page 932 only", "\x87\x40", "\xe2\x91\xa0"},
      {"half a character at the end", "ab\x82", "ab\\x82"},
      {"a lead byte before a byte that ends no character", "\x82\x20z", "\\x82 z"},
      {"a title, a wiped line and hidden text",
       "/x\x1b]2;T\x07\x1b[2K\rsec-a: all fine\x1b[8m",
       "/x\\e]2;T\\x07\\e[2K\\x0Dsec-a: all fine\\e[8m"},
      {"DEL and a zero byte", std::string("a\x7f\0b", 4), "a\\x7F\\x00b"},
      {"line breaks in one line", "a\nb\tc", "a\\x0Ab\\x09c"},
      {"line breaks of a usage text", "a\nb\tc\r", "a\nb\tc\\x0D", LineBreaks::kKept},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(port::text_for_reader(row.shift_jis, TextFor::kRecord, row.breaks), row.shown) << row.what;
  }
}

// The system's own records are UTF-8: shown as they are, but for what
// decodes to no character and for control characters, C1 ones included.
TEST(ReaderText, Utf8TextKeepsItsCharactersAndShowsItsControls) {
  EXPECT_EQ(port::utf8_for_reader("\xe3\x81\x82 \x1b[2K \xc2\x9b \xff.", TextFor::kRecord),
            "\xe3\x81\x82 \\e[2K \\x9B \\xFF.");
}

TEST(ReaderText, ATerminalWhoseLocaleIsAsciiGetsUtf8) {
  ::setenv("LC_ALL", "C", 1);
  EXPECT_EQ(port::text_for_reader("\x82\xa0\x1b", TextFor::kTerminal), "\xe3\x81\x82\\e");
}

}  // namespace
