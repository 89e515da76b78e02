// The interpreter's grammar. Variables are expanded first, over the whole
// line. Then "&", "&&", "||", pipes and redirections are found, with double
// quotes switching quoted text on and off (no backslash escapes at this
// level, as in the Windows interpreter) and "^" making the next character
// plain text outside quotes; each command's remaining text is then split
// into words by the command-line rules.
#include "port/posix/cmd/parse.h"

#include <strings.h>

#include "port/posix/cmd/messages.h"
#include "port/posix/cmdline.h"
#include "port/interpreter.h"
#include "port/text.h"

namespace port::posix::cmd {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

bool ends_file_name(char c) { return is_blank(c) || c == '|' || c == '<' || c == '>' || c == '&'; }

constexpr char kLineTooLong[] = "The input line is too long.";

class Parser {
 public:
  Parser(const std::string& line, Line* parsed, std::string* error) : line_(line), parsed_(parsed), error_(error) {}

  // The line read once from left to right: one loop whose cases share the
  // position, the quoting state and the command being built, so it is one
  // function, long as it is.
  int run() {
    parsed_->steps.clear();
    if (line_.size() > kMaxLine) {
      return fail(kLineTooLong);
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
      if (c == '^') {
        // The next character is plain text; a caret that ends the line
        // escapes nothing and goes.
        ++pos_;
        take_plain(&current_.text);
        word_start = false;
        continue;
      }
      if (c == '|' || c == '&') {
        if (operator_at() != 0) {
          return -1;
        }
        word_start = true;
        continue;
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
    if (end_command(false) != 0) {
      return -1;
    }
    if (pipeline_empty() && !parsed_->steps.empty()) {
      // Nothing after a last "&" is nothing more to run; after "&&" or "||"
      // the second half is missing.
      if (joint_ != Joint::kAlways) {
        return fail(kSyntaxMessage);
      }
      return 0;
    }
    parsed_->steps.push_back(PipelineStep{joint_, std::move(pipeline_)});
    return 0;
  }

 private:
  int fail(const std::string& message) {
    if (error_ != nullptr) {
      *error_ = message;
    }
    parsed_->steps.clear();
    return -1;
  }

  // Appends the character at pos_ (both bytes of a double-byte one), if any.
  void take_plain(std::string* text) {
    if (pos_ >= line_.size()) {
      return;
    }
    const std::size_t width = port::double_byte_at(line_, pos_) ? 2 : 1;
    text->append(line_, pos_, width);
    pos_ += width;
  }

  // At "|", "||", "&" or "&&" outside quotes.
  int operator_at() {
    const char c = line_[pos_];
    const bool doubled = pos_ + 1 < line_.size() && line_[pos_ + 1] == c;
    pos_ += doubled ? 2 : 1;
    if (c == '|' && !doubled) {
      return end_command(true);
    }
    Joint next = Joint::kAlways;
    if (doubled) {
      next = c == '&' ? Joint::kOnSuccess : Joint::kOnFailure;
    }
    return end_step(next, doubled ? std::string(2, c) : std::string(1, c));
  }

  // Closes the command being read. Each side of a "|" must hold a command.
  int end_command(bool before_pipe) {
    parse_command_line(current_.text.c_str(), &current_.parsed);
    const bool piped = before_pipe || !pipeline_.commands.empty();
    if (piped && current_.parsed.argv.empty()) {
      return fail("| was unexpected at this time.");
    }
    pipeline_.commands.push_back(std::move(current_));
    current_ = Command{};
    return 0;
  }

  // A pipeline of one command without words or redirections.
  bool pipeline_empty() const {
    return pipeline_.commands.size() == 1 && pipeline_.commands[0].parsed.argv.empty() &&
           pipeline_.commands[0].redirections.empty();
  }

  // Closes the pipeline before "&", "&&" or "||"; the next one runs by `next`.
  int end_step(Joint next, const std::string& op) {
    if (end_command(false) != 0) {
      return -1;
    }
    if (pipeline_empty()) {
      return fail(op + " was unexpected at this time.");
    }
    parsed_->steps.push_back(PipelineStep{joint_, std::move(pipeline_)});
    pipeline_ = Pipeline{};
    joint_ = next;
    return 0;
  }

  // At "<", ">", "1>" or "2>": reads the operator and its file name.
  // One function for the eight operators: they share the reading of the
  // stream digit, the ">" and ">>", and the file name after them, which
  // apart would be read in eight places.
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
        // One stream joining the other: 2>&1, and >&2 or 1>&2.
        const char other = stream == '2' ? '1' : '2';
        if (!append && pos_ + 1 < line_.size() && line_[pos_ + 1] == other) {
          pos_ += 2;
          redir.kind = stream == '2' ? RedirKind::kErrToOut : RedirKind::kOutToErr;
          current_.redirections.push_back(std::move(redir));
          return 0;
        }
        // A stream joined to itself (>&1, 2>&2) stays where it is.
        if (!append && pos_ + 1 < line_.size() && line_[pos_ + 1] == stream) {
          pos_ += 2;
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
      if (!in_quotes && c == '^') {
        ++pos_;
        take_plain(&redir.file);
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
  Line* parsed_;
  std::string* error_;
  std::size_t pos_ = 0;
  Command current_;
  Pipeline pipeline_;
  Joint joint_ = Joint::kAlways;
};

// Replaces each %NAME% of a defined variable by its value, quoted or not, as
// the Windows interpreter does with a line given after /C. An undefined name
// stays as written and its closing "%" may open the next name; a lone "%"
// stays too.
std::string expand_variables(const std::string& line, const Lookup& lookup) {
  std::string out;
  std::size_t pos = 0;
  while (pos < line.size()) {
    const std::size_t open = line.find('%', pos);
    if (open == std::string::npos) {
      break;
    }
    out.append(line, pos, open - pos);
    const std::size_t close = line.find('%', open + 1);
    if (close == std::string::npos) {
      pos = open;  // a lone "%" and what follows stay
      break;
    }
    const std::string name = line.substr(open + 1, close - open - 1);
    std::string value;
    // "=" cannot be part of a name: the environment would match its prefix.
    if (!name.empty() && name.find('=') == std::string::npos && lookup(name, &value)) {
      out += value;
      pos = close + 1;
    } else {
      // Undefined: kept as written, its closing "%" free to open a name.
      out.append(line, open, close - open);
      pos = close;
    }
  }
  out.append(line, pos, std::string::npos);
  return out;
}

}  // namespace


int parse_line(const std::string& line, const Lookup& lookup, Line* parsed, std::string* error) {
  if (line.size() > kMaxLine) {
    parsed->steps.clear();
    if (error != nullptr) {
      *error = kLineTooLong;
    }
    return -1;
  }
  return Parser(expand_variables(line, lookup), parsed, error).run();
}

std::string strip_outer_quotes(const std::string& text,
                               const std::function<bool(const std::string&)>& is_executable) {
  std::size_t first = 0;
  while (first < text.size() && is_blank(text[first])) {
    ++first;
  }
  if (first == text.size() || text[first] != '"') {
    return text;
  }
  const std::size_t last = text.rfind('"');
  // A Shift_JIS trail byte is never a double quote, so counting bytes counts
  // quote characters.
  if (last != first && text.find('"', first + 1) == last) {
    const std::string between = text.substr(first + 1, last - first - 1);
    if (between.find_first_of("&<>()@^|") == std::string::npos &&
        between.find_first_of(" \t") != std::string::npos && is_executable(between)) {
      return text;
    }
  }
  std::string stripped = text;
  if (last != first) {
    stripped.erase(last, 1);
  }
  stripped.erase(first, 1);
  return stripped;
}

std::vector<BuiltinWord> split_builtin_words(const std::string& text) {
  std::vector<BuiltinWord> words;
  BuiltinWord word;
  bool in_word = false;
  bool in_quotes = false;
  for (std::size_t pos = 0; pos < text.size(); ++pos) {
    if (port::double_byte_at(text, pos)) {
      // Whatever its second byte is, the character is text.
      word.text.append(text, pos, 2);
      in_word = true;
      ++pos;
      continue;
    }
    const char c = text[pos];
    if (c == '"') {
      in_quotes = !in_quotes;
      word.quoted = true;
      in_word = true;
      continue;
    }
    if (!in_quotes && port::is_line_separator(c)) {
      if (in_word) words.push_back(std::move(word));
      word = BuiltinWord{};
      in_word = false;
      continue;
    }
    word.text.push_back(c);
    in_word = true;
  }
  if (in_word) words.push_back(std::move(word));
  return words;
}

bool is_null_device(const std::string& name) {
  return strcasecmp(name.c_str(), "nul") == 0 || strcasecmp(name.c_str(), "\\nul") == 0;
}

}  // namespace port::posix::cmd
