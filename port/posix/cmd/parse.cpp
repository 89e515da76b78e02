// The interpreter's grammar. Pipes and redirections are found first, with
// double quotes switching quoted text on and off (no backslash escapes at
// this level, as in the Windows interpreter); each command's remaining text
// is then split into words by the command-line rules.
#include "port/posix/cmd/parse.h"

#include <strings.h>

#include "port/posix/cmd/messages.h"
#include "port/posix/cmdline.h"
#include "port/text.h"

namespace port::posix::cmd {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

bool ends_file_name(char c) { return is_blank(c) || c == '|' || c == '<' || c == '>' || c == '&'; }

class Parser {
 public:
  Parser(const std::string& line, Pipeline* pipeline, std::string* error)
      : line_(line), pipeline_(pipeline), error_(error) {}

  int run() {
    pipeline_->commands.clear();
    if (line_.size() > kMaxLine) {
      return fail("The input line is too long.");
    }
    bool in_quotes = false;
    bool word_start = true;  // a "1" or "2" here may name a stream
    while (pos_ < line_.size()) {
      const char c = line_[pos_];
      if (port::double_byte_at(line_, pos_)) {
        // A double-byte character is text whatever its second byte is.
        current_.text.append(line_, pos_, 2);
        pos_ += 2;
        word_start = false;
        continue;
      }
      if (c == '"') {
        in_quotes = !in_quotes;
      }
      if (in_quotes || c == '"') {
        current_.text.push_back(c);
        ++pos_;
        word_start = false;
        continue;
      }
      if (c == '|') {
        if (end_command(true) != 0) {
          return -1;
        }
        ++pos_;
        word_start = true;
        continue;
      }
      if (c == '&') {
        // Command sequences are not part of this interpreter; running half a
        // line would be worse than refusing it.
        return fail("& was unexpected at this time.");
      }
      const bool stream_digit = word_start && (c == '1' || c == '2') && pos_ + 1 < line_.size() &&
                                line_[pos_ + 1] == '>';
      if (c == '<' || c == '>' || stream_digit) {
        if (redirection() != 0) {
          return -1;
        }
        current_.text.push_back(' ');
        word_start = true;
        continue;
      }
      current_.text.push_back(c);
      ++pos_;
      word_start = is_blank(c);
    }
    // An open quote at the end is text to the end of the line; the word
    // splitter reads it the same way.
    return end_command(false);
  }

 private:
  int fail(const std::string& message) {
    if (error_ != nullptr) {
      *error_ = message;
    }
    pipeline_->commands.clear();
    return -1;
  }

  // Closes the command being read. Each side of a "|" must hold a command.
  int end_command(bool before_pipe) {
    parse_command_line(current_.text.c_str(), &current_.parsed);
    const bool piped = before_pipe || !pipeline_->commands.empty();
    if (piped && current_.parsed.argv.empty()) {
      return fail("| was unexpected at this time.");
    }
    pipeline_->commands.push_back(std::move(current_));
    current_ = Command{};
    return 0;
  }

  // At "<", ">", "1>" or "2>": reads the operator and its file name.
  int redirection() {
    Redirection redir;
    char stream = '1';
    if (line_[pos_] == '<') {
      redir.kind = RedirKind::kIn;
      ++pos_;
    } else {
      if (line_[pos_] != '>') {
        stream = line_[pos_++];
      }
      ++pos_;  // the ">"
      const bool append = pos_ < line_.size() && line_[pos_] == '>';
      if (append) {
        ++pos_;
      }
      if (pos_ < line_.size() && line_[pos_] == '&') {
        // Only the standard error joining the standard output is known.
        if (stream == '2' && !append && pos_ + 1 < line_.size() && line_[pos_ + 1] == '1') {
          pos_ += 2;
          redir.kind = RedirKind::kErrToOut;
          current_.redirections.push_back(std::move(redir));
          return 0;
        }
        return fail(kSyntaxMessage);
      }
      if (stream == '2') {
        redir.kind = append ? RedirKind::kErrAppend : RedirKind::kErr;
      } else {
        redir.kind = append ? RedirKind::kAppend : RedirKind::kOut;
      }
    }
    while (pos_ < line_.size() && is_blank(line_[pos_])) {
      ++pos_;
    }
    bool in_quotes = false;
    bool quoted = false;
    while (pos_ < line_.size()) {
      const char c = line_[pos_];
      if (port::double_byte_at(line_, pos_)) {
        redir.file.append(line_, pos_, 2);
        pos_ += 2;
        continue;
      }
      if (c == '"') {
        in_quotes = !in_quotes;
        quoted = true;
        ++pos_;
        continue;
      }
      if (!in_quotes && ends_file_name(c)) {
        break;
      }
      redir.file.push_back(c);
      ++pos_;
    }
    if (in_quotes) {
      return fail(kSyntaxMessage);
    }
    if (redir.file.empty()) {
      // "> " at the end or before another operator names no file.
      return fail(quoted ? kPathNotFoundMessage : kSyntaxMessage);
    }
    current_.redirections.push_back(std::move(redir));
    return 0;
  }

  const std::string& line_;
  Pipeline* pipeline_;
  std::string* error_;
  std::size_t pos_ = 0;
  Command current_;
};

}  // namespace

int parse_line(const std::string& line, Pipeline* pipeline, std::string* error) {
  return Parser(line, pipeline, error).run();
}

bool is_null_device(const std::string& name) {
  return strcasecmp(name.c_str(), "nul") == 0 || strcasecmp(name.c_str(), "\\nul") == 0;
}

}  // namespace port::posix::cmd
