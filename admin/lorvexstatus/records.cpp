// What the look reads of a gatherer's files: only what a regular file holds,
// in bounded amounts, and only as the programs that write it write it.
#include "admin/lorvexstatus/records.h"

#include <cerrno>
#include <cstdio>

#include "port/stream.h"

namespace {

// "YYYYMMDD HH:MM:SS ", the time stamp that begins a record.
constexpr std::size_t kStampSize = 18;

// The value of the count digits at text[at], -1 when they are not all digits
// or run past the text. Counts are short: no conversion can overflow.
int digits_value(const std::string& text, std::size_t at, std::size_t count) {
  if (at + count > text.size()) return -1;
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

bool within(int value, int low, int high) { return value >= low && value <= high; }

}  // namespace

std::string kind_of(const port::FileInfo& info) {
  if (info.is_link) return "a symbolic link";
  if (info.is_directory) return "a directory";
  if (info.is_device) return "a device";
  if (info.is_fifo) return "a FIFO";
  return "a special file";
}

FirstLine first_line(const std::string& path, std::size_t limit, std::string* line) {
  line->clear();
  std::FILE* file = port::open_entry(path.c_str());
  if (file == nullptr) return errno == ENOENT ? FirstLine::kMissing : FirstLine::kUnreadable;
  int c = std::fgetc(file);
  for (; c != EOF && c != '\n' && line->size() <= limit; c = std::fgetc(file)) *line += static_cast<char>(c);
  const int error = errno;
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    errno = error;
    return FirstLine::kUnreadable;
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return line->size() > limit ? FirstLine::kTooLong : FirstLine::kRead;
}

int record_status(const std::string& line, const std::string& name) {
  for (const char c : line) {
    if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f) return -1;  // no text of a record
  }
  if (line.size() < kStampSize || line[8] != ' ' || line[11] != ':' || line[14] != ':' || line[17] != ' ') return -1;
  const bool stamped = within(digits_value(line, 0, 4), 0, 9999) && within(digits_value(line, 4, 2), 1, 12) &&
                       within(digits_value(line, 6, 2), 1, 31) && within(digits_value(line, 9, 2), 0, 23) &&
                       within(digits_value(line, 12, 2), 0, 59) && within(digits_value(line, 15, 2), 0, 60);
  const std::string head = name + ": status ";
  if (!stamped || line.compare(kStampSize, head.size(), head) != 0) return -1;
  const std::size_t number = kStampSize + head.size();
  const std::size_t end = line.find(": ", number);
  // One or two digits, as the command writes its statuses ("01" it never
  // writes); a longer number is no status of its, and is never converted.
  const std::size_t digits = end == std::string::npos ? 0 : end - number;
  if (digits == 0 || digits > 2 || (digits == 2 && line[number] == '0')) return -1;
  const int status = digits_value(line, number, digits);
  return status == 0 || status == 1 || status == 2 || status == 75 ? status : -1;
}

long long count_value(const char* text) {
  while (*text == ' ' || *text == '\t') ++text;
  const char* digits = text;
  long long value = 0;
  constexpr long long kMostTemplates = 999999999999LL;  // more than any database holds
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10 + (*text - '0');
    if (value > kMostTemplates) return -1;
  }
  if (text == digits) return -1;
  while (*text == ' ' || *text == '\t' || *text == '\r' || *text == '\n') ++text;
  return *text == '\0' ? value : -1;
}
