#include "tools/skim/lines.h"

#include <cstring>

namespace skim {

namespace {

// Paragraph and section requests, and the empty line. Compared over at most
// three bytes, so "\n" matches only a line that is nothing but a newline.
constexpr const char* kKeptPrefixes[] = {".LP", ".PP", ".S#", ".Ch", ".SH",
                                         ".NH", ".lp", ".pp", ".sh", "\n"};

// The Shift_JIS ideographic full stop.
constexpr unsigned char kIdeographicStop[] = {0x81, 0x42};

bool ascii_sentence_end(const char* at) { return at[0] == '.' && at[1] == ' ' && at[2] == ' '; }

bool ideographic_sentence_end(const char* at) {
  return static_cast<unsigned char>(at[0]) == kIdeographicStop[0] &&
         static_cast<unsigned char>(at[1]) == kIdeographicStop[1];
}

}  // namespace

bool is_kept_line(const char* line, std::size_t length) {
  const auto byte = [&](std::size_t at) { return at < length ? line[at] : '\0'; };
  // Every entry begins with a full stop or a newline: most lines of a
  // document are settled by their first byte.
  if (byte(0) != '.' && byte(0) != '\n') return false;
  // strncmp over three bytes: a zero byte in the line ends the comparison as
  // a mismatch, unless the entry ends there too (the "\n" entry).
  for (const char* prefix : kKeptPrefixes) {
    if (prefix[0] == byte(0) && prefix[1] == byte(1) && (prefix[1] == '\0' || prefix[2] == byte(2))) {
      return true;
    }
  }
  return false;
}

bool is_kept_line(const char* line) { return is_kept_line(line, std::strlen(line)); }

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
    // Positions up to five bytes before the end are scanned, byte by byte:
    // a double-byte character whose second byte is 0x81, followed by "B",
    // ends a sentence too, as it always has in these abstracts.
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
