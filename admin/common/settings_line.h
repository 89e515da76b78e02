#pragma once
// The lines of the settings files, and their NAME=value split.
#include <cstddef>
#include <cstdio>
#include <string>

#include "port/text_reader.h"

// What becomes of a line longer than the reader's buffer.
enum class LongLine {
  kInPieces,  // each piece of the buffer's size counts as a line of its own
  kRefused,   // the file is refused at that line
};

// Reads a settings file's lines into the caller's buffer, passing over empty
// lines and comments (a "#" first).
class SettingsLines {
 public:
  enum class Result {
    kLine,       // the buffer holds the next line, without its line break
    kEnd,
    kZeroByte,   // the line holds a zero byte, which would hide the rest of it
    kTooLong,    // (LongLine::kRefused) the line does not fit the buffer
    kReadError,  // no end of the file: the rest of it cannot be read
    kByteOrderMark,  // the file begins with the mark of a Unicode encoding
  };

  SettingsLines(std::FILE* file, char* buffer, int size, LongLine rule)
      : file_(file), reader_(file), buffer_(buffer), size_(size), rule_(rule) {}
  Result next();
  // The number of the line last read, empty lines and comments counted.
  int number() const { return number_; }
  // After kByteOrderMark: the encoding the mark names ("UTF-8", "UTF-16").
  const char* encoding() const { return encoding_; }

 private:
  std::FILE* file_;
  port::TextReader reader_;
  char* buffer_;
  int size_;
  LongLine rule_;
  int number_ = 0;
  const char* encoding_ = nullptr;
};

// Splits a line (without its line break) into name and value: the name is the
// text before the first "=" (leading "=" passed over), the value everything
// behind it; nothing is trimmed. Returns 0 when both were found and copied;
// -1 when the line has no name or no value (or no memory, after a message);
// -2 when the name, -3 when the value does not fit its buffer (the buffers
// are then left empty). The line itself is not changed.
int GetAttrVal(const char* line, char* name, std::size_t name_size, char* value, std::size_t value_size);

// The message of a settings line that cannot be copied for want of memory.
void report_line_copy_failure();

// What reading a whole settings file came to. The reader stops at the first
// line it cannot take, so that no program goes on with part of its settings;
// each program says so in its own words and with its own status.
struct SettingsOutcome {
  enum class Kind {
    kRead,
    kCannotOpen,  // error holds the runtime's error number
    kUnsplit,     // split holds what GetAttrVal returned for the line
    kNotTaken,    // the taker refused the line
    kZeroByte,    // as SettingsLines::Result
    kTooLong,
    kReadError,   // line is the number of the line that cannot be read
    kOtherEncoding,  // encoding names what the file was saved as; no line was taken
  };
  Kind kind = Kind::kRead;
  int line = 0;   // the number of the line the outcome concerns
  int split = 0;
  int error = 0;
  const char* encoding = nullptr;
};

// What a reader says of a file saved in another encoding, after the file's
// name: "is saved as UTF-8 with a byte-order mark; save it as ANSI (Shift_JIS)".
std::string other_encoding_refusal(const char* encoding);

// Where each split line of a settings file goes.
class SettingsTaker {
 public:
  // False when the line cannot be taken (after its own message).
  virtual bool take(const char* line, const char* name, const char* value) = 0;

 protected:
  ~SettingsTaker() = default;
};

// The size of the line and name buffers of a reader, and its long-line rule.
struct SettingsShape {
  int line_size;  // at most kSettingsLineLimit
  int name_size;  // at most line_size
  LongLine rule;
};
constexpr int kSettingsLineLimit = 1560;

// Reads a settings file (or a stream opened in text mode, which stays open)
// line by line into the taker. Lines before the one the outcome names have
// already been taken.
SettingsOutcome read_settings_file(const char* path, const SettingsShape& shape, SettingsTaker& taker);
SettingsOutcome read_settings_stream(std::FILE* file, const SettingsShape& shape, SettingsTaker& taker);

// Result codes of GetAttrVal.
constexpr int kAttrNameTooLong = -2;
constexpr int kAttrValueTooLong = -3;
