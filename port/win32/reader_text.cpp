// Shift_JIS text for a reader on Windows: the console reads the system's code
// page, so the text goes as it is.
#include "port/reader_text.h"

namespace port {

std::string text_for_reader(std::string_view shift_jis, TextFor, LineBreaks) { return std::string(shift_jis); }
std::string utf8_for_reader(std::string_view utf8, TextFor, LineBreaks) { return std::string(utf8); }

}  // namespace port
