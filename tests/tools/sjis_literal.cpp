// Japanese literals compiled to code page 932 bytes (this file is built with
// the Shift_JIS execution character set); lxportdrive compares them with the
// bytes they must be on the target.
#include "tests/tools/sjis_literal.h"

namespace lxtool {

// Katakana with a trail byte in the ASCII range, and a kanji whose trail byte
// is the code of a backslash.
const char kSjisMessage[] = "メッセージ";
const char kSjisTable[] = "表";

}  // namespace lxtool
