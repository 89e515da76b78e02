#include "admin/common/settings_line.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "admin/common/diagnostics.h"
#include "port/stream.h"

namespace {

// Copies text into a buffer of the given size; false when it does not fit.
bool copy_into(char* buffer, std::size_t size, const char* text, std::size_t length) {
  if (buffer == nullptr || length + 1 > size) return false;
  std::memcpy(buffer, text, length);
  buffer[length] = '\0';
  return true;
}

// Windows editors begin a file saved as Unicode with one of these marks.
// No Shift_JIS text begins so (0xFE and 0xFF are no Shift_JIS bytes, and no
// character has the lead byte 0xEF), so a file that does is no settings file
// in the system's encoding: its names would not match and its values would
// reach the programs in another encoding.
struct ByteOrderMark {
  const char* bytes;
  int length;
  const char* encoding;
};
constexpr ByteOrderMark kByteOrderMarks[] = {
    {"\xEF\xBB\xBF", 3, "UTF-8"},
    {"\xFF\xFE", 2, "UTF-16"},
    {"\xFE\xFF", 2, "UTF-16"},
};

const char* marked_encoding(const char* text, int length) {
  for (const ByteOrderMark& mark : kByteOrderMarks) {
    if (length >= mark.length && std::memcmp(text, mark.bytes, mark.length) == 0) return mark.encoding;
  }
  return nullptr;
}

}  // namespace

std::string other_encoding_refusal(const char* encoding) {
  return std::string("is saved as ") + encoding + " with a byte-order mark; save it as ANSI (Shift_JIS)";
}

SettingsLines::Result SettingsLines::next() {
  int read = 0;
  while (reader_.get_line(buffer_, size_, &read) != nullptr) {
    ++number_;
    // Only the start of the file can carry the mark; the file is refused
    // before any of its lines is taken.
    if (number_ == 1 && (encoding_ = marked_encoding(buffer_, read)) != nullptr) return Result::kByteOrderMark;
    std::size_t length = std::strlen(buffer_);
    if (length != static_cast<std::size_t>(read)) return Result::kZeroByte;
    const bool has_break = length > 0 && buffer_[length - 1] == '\n';
    if (rule_ == LongLine::kRefused && !has_break && length == static_cast<std::size_t>(size_) - 1) {
      // The buffer is full: only a line of exactly this length, whose line
      // break comes next, is whole. Anything longer would be cut.
      const int next = reader_.get();
      if (next != '\n' && next != EOF) return Result::kTooLong;
    }
    if (buffer_[0] == '#' || buffer_[0] == '\n') continue;
    if (has_break) buffer_[--length] = '\0';
    return Result::kLine;
  }
  return std::ferror(file_) ? Result::kReadError : Result::kEnd;
}

SettingsOutcome read_settings_file(const char* path, const SettingsShape& shape, SettingsTaker& taker) {
  std::FILE* file = port::open_file(path, "r");
  if (file == nullptr) {
    SettingsOutcome outcome;
    outcome.kind = SettingsOutcome::Kind::kCannotOpen;
    outcome.error = errno;
    return outcome;
  }
  const SettingsOutcome outcome = read_settings_stream(file, shape, taker);
  std::fclose(file);
  return outcome;
}

SettingsOutcome read_settings_stream(std::FILE* file, const SettingsShape& shape, SettingsTaker& taker) {
  char line[kSettingsLineLimit];
  char name[kSettingsLineLimit];
  char value[kSettingsLineLimit];
  const std::size_t line_size = static_cast<std::size_t>(shape.line_size) <= sizeof line ? shape.line_size : sizeof line;
  const std::size_t name_size = static_cast<std::size_t>(shape.name_size) <= line_size ? shape.name_size : line_size;
  SettingsLines lines(file, line, static_cast<int>(line_size), shape.rule);
  SettingsOutcome outcome;
  SettingsLines::Result result;
  while ((result = lines.next()) == SettingsLines::Result::kLine) {
    outcome.line = lines.number();
    outcome.split = GetAttrVal(line, name, name_size, value, line_size);
    if (outcome.split != 0) {
      outcome.kind = SettingsOutcome::Kind::kUnsplit;
      return outcome;
    }
    if (!taker.take(line, name, value)) {
      outcome.kind = SettingsOutcome::Kind::kNotTaken;
      return outcome;
    }
  }
  outcome.line = lines.number();
  switch (result) {
    case SettingsLines::Result::kZeroByte:
      outcome.kind = SettingsOutcome::Kind::kZeroByte;
      break;
    case SettingsLines::Result::kTooLong:
      outcome.kind = SettingsOutcome::Kind::kTooLong;
      break;
    case SettingsLines::Result::kReadError:
      outcome.kind = SettingsOutcome::Kind::kReadError;
      outcome.line = lines.number() + 1;
      break;
    case SettingsLines::Result::kByteOrderMark:
      outcome.kind = SettingsOutcome::Kind::kOtherEncoding;
      outcome.encoding = lines.encoding();
      break;
    default:
      break;
  }
  return outcome;
}

void report_line_copy_failure() {
  Diagnostics("GetAttrVal").error("Insufficient memory.");
}

int GetAttrVal(const char* line, char* name, std::size_t name_size, char* value, std::size_t value_size) {
  if (line == nullptr) return -1;
  // A private copy, as the line is split in place.
  const std::size_t line_length = std::strlen(line);
  char* copy = static_cast<char*>(std::malloc(line_length + 1));
  if (copy == nullptr) {
    report_line_copy_failure();
    return -1;
  }
  std::memcpy(copy, line, line_length + 1);

  int result = -1;
  char* name_start = copy + std::strspn(copy, "=");
  const std::size_t name_length = std::strcspn(name_start, "=");
  if (name_length > 0 && name_start[name_length] == '=') {
    char* value_start = name_start + name_length + 1;
    value_start += std::strspn(value_start, "\n");
    const std::size_t value_length = std::strcspn(value_start, "\n");
    if (value_length > 0) {
      if (!copy_into(name, name_size, name_start, name_length)) {
        result = kAttrNameTooLong;
      } else if (!copy_into(value, value_size, value_start, value_length)) {
        name[0] = '\0';
        result = kAttrValueTooLong;
      } else {
        result = 0;
      }
    }
  }
  std::free(copy);
  return result;
}
