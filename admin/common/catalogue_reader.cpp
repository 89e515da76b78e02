#include "admin/common/catalogue_reader.h"

#include <cstdio>
#include <cstring>

namespace {

// A catalogue line holds at most 4095 characters.
constexpr std::size_t kLineSize = 4096;

constexpr char kEntryStart[] = "LXC_MSG_";

// Reads one line without its line break. Returns false at the end of the
// file with nothing read. *ended_by_break tells whether a line break ended
// it; *too_long that the line did not fit (the rest is read and dropped, so
// a long line is never cut into a second one).
bool read_line(port::TextReader& reader, int first, char* line, bool* ended_by_break, bool* too_long) {
  std::size_t length = 0;
  *too_long = false;
  *ended_by_break = false;
  int c = first;
  if (c == EOF) return false;
  for (; c != EOF; c = reader.get()) {
    if (c == '\n') {
      *ended_by_break = true;
      break;
    }
    if (length + 1 < kLineSize) {
      line[length++] = static_cast<char>(c);
    } else {
      *too_long = true;
    }
  }
  line[length] = '\0';
  return true;
}

// Collects the text of the entry whose key line has just been read. Returns
// false when a line or the text does not fit.
bool collect_text(port::TextReader& reader, char* line, char* text) {
  std::size_t length = 0;
  text[0] = '\0';
  bool ended_by_break = true;
  bool too_long = false;
  while (ended_by_break && read_line(reader, reader.get(), line, &ended_by_break, &too_long)) {
    // The start of a line decides what it is, whatever its length: only a
    // line that becomes part of the text must fit.
    if (std::strncmp(line, kEntryStart, sizeof kEntryStart - 1) == 0) break;
    if (line[0] == '#') continue;
    if (too_long) return false;
    if (line[0] == '\0') continue;
    const std::size_t add = std::strlen(line) + (length > 0 ? 1 : 0);
    if (length + add + 1 > kMsgTextSize) return false;
    if (length > 0) text[length++] = '\n';
    std::memcpy(text + length, line, std::strlen(line) + 1);
    length += std::strlen(line);
  }
  return true;
}

}  // namespace

bool read_catalogue_entry(port::TextReader& reader, const char* key, char* text) {
  static char line[kLineSize];
  text[0] = '\0';
  for (;;) {
    const int first = reader.get();
    if (first == EOF) return true;
    if (first == '#') {
      int c = first;
      while (c != '\n' && c != EOF) c = reader.get();
      continue;
    }
    bool ended_by_break = false;
    bool too_long = false;
    read_line(reader, first, line, &ended_by_break, &too_long);
    // A key line must be ended by a line break.
    if (!ended_by_break) return true;
    if (!too_long && std::strcmp(line, key) == 0) return collect_text(reader, line, text);
  }
}
