#include "tools/skim/lines.h"

#include <cstring>

namespace skim {

namespace {

// Paragraph and section requests, and the empty line. Compared over at most
// three bytes, so "\n" matches only a line that is nothing but a newline.
constexpr const char* kKeptPrefixes[] = {".LP", ".PP", ".S#", ".Ch", ".SH",
                                         ".NH", ".lp", ".pp", ".sh", "\n"};
constexpr std::size_t kPrefixBytes = 3;

// The Shift_JIS ideographic full stop.
constexpr unsigned char kIdeographicStop[] = {0x81, 0x42};

bool ascii_sentence_end(const char* at) { return at[0] == '.' && at[1] == ' ' && at[2] == ' '; }

bool ideographic_sentence_end(const char* at) {
  return static_cast<unsigned char>(at[0]) == kIdeographicStop[0] &&
         static_cast<unsigned char>(at[1]) == kIdeographicStop[1];
}

}  // namespace

bool is_kept_line(const char* line) {
  for (const char* prefix : kKeptPrefixes) {
    if (std::strncmp(line, prefix, kPrefixBytes) == 0) return true;
  }
  return false;
}

Verdict LineHandler::handle(const char* line) {
  Verdict verdict;
  if (is_kept_line(line)) {
    verdict.write_line = true;
    ++lines_written_;
    skipping_ = false;
  } else if (!skipping_) {
    verdict.write_line = true;
    ++lines_written_;
    const std::size_t length = std::strlen(line);
    // The scan stops four bytes short of the end; the byte-wise walk ignores
    // double-byte boundaries on purpose, as the abstracts always have.
    for (std::size_t at = 0; at + 4 < length; ++at) {
      if (ascii_sentence_end(line + at) || ideographic_sentence_end(line + at)) {
        skipping_ = true;
        break;
      }
      ++budget_;
    }
    // A full stop right before the line end closes the sentence too.
    if (length >= 2 && line[length - 2] == '.') skipping_ = true;
    if (budget_ > kCharacterBudget) skipping_ = true;
    if (skipping_) {
      verdict.write_marker = true;
      budget_ = 0;
    }
  }
  verdict.stop = lines_written_ > kMaxLinesWritten;
  return verdict;
}

}  // namespace skim
