#pragma once
// Shift_JIS text made fit for a reader: what a file or a setting says is
// shown, never obeyed by the terminal it reaches, and in the character set
// the reader's terminal or log reads.
//
// POSIX: the bytes are decoded as code page 932 (bytes that do not decode
// are shown as "\xNN"), control characters are made visible ("\e" for the
// escape, "\xNN" for the others, C1 controls included), and the text is
// encoded in UTF-8, or for a terminal in the character set of the locale
// the environment names (UTF-8 where that is ASCII; a character the set
// lacks is shown as "\uXXXX"). Windows: the text is the console's own code
// page already and goes as it is.
#include <string>
#include <string_view>

namespace port {

enum class TextFor {
  kRecord,    // a record, a log line, a file another program reads: UTF-8 whatever the locale
  kTerminal,  // a person at a terminal: the locale's character set
};

enum class LineBreaks {
  kShown,  // a line feed and a tab are control characters like the others (one line of text)
  kKept,   // a line feed and a tab stay what they are (a text of many lines, such as a usage text)
};

std::string text_for_reader(std::string_view shift_jis, TextFor target, LineBreaks breaks = LineBreaks::kShown);
// The same for text in UTF-8, as the system's own records keep it (bytes
// that do not decode shown as "\xNN").
std::string utf8_for_reader(std::string_view utf8, TextFor target, LineBreaks breaks = LineBreaks::kShown);

}  // namespace port
