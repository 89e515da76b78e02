// Japanese texts are written in UTF-8 in the sources and must reach the
// programs as Shift_JIS (code page 932) bytes.
#include <gtest/gtest.h>

#include <string>

namespace {

std::string bytes(std::initializer_list<unsigned char> list) { return std::string(list.begin(), list.end()); }

TEST(ShiftJisLiterals, CompileToCodePage932Bytes) {
  // Katakana with a trail byte in the ASCII range and the long vowel mark.
  EXPECT_EQ(std::string("メッセージ"), bytes({0x83, 0x81, 0x83, 0x62, 0x83, 0x5A, 0x81, 0x5B, 0x83, 0x57}));
  // A kanji whose trail byte is the code of a backslash, and a full-width colon.
  EXPECT_EQ(std::string("表："), bytes({0x95, 0x5C, 0x81, 0x46}));
  // The ideographic full stop and ASCII mixed in, unchanged.
  EXPECT_EQ(std::string("使用法: a。"), bytes({0x8E, 0x67, 0x97, 0x70, 0x96, 0x40, ':', ' ', 'a', 0x81, 0x42}));
}

}  // namespace
