// Command-line strings into argument vectors, the way the Windows C runtime
// builds argv, so that a child started from one string sees the same words on
// both targets.
#include "port/posix/cmdline.h"

#include <cstddef>
#include <strings.h>

#include "port/text.h"

namespace port::posix {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// A word and where its text ends in the line (one past its last byte).
struct Word {
  std::string text;
  std::size_t end = 0;
};

// The program name. The runtime reads it without backslash escapes: a quote
// only opens or closes quoted text and every backslash is kept. (Older
// runtimes read it like the other words; the current one, which the Windows
// build links and Wine shares, does not.)
std::size_t read_program_name(const char* line, std::size_t i, std::string* out) {
  bool in_quotes = false;
  while (line[i] != '\0' && (in_quotes || !is_blank(line[i]))) {
    if (line[i] == '"') {
      in_quotes = !in_quotes;
      ++i;
      continue;
    }
    if (double_byte_at(line, i)) {
      out->push_back(line[i++]);
    }
    out->push_back(line[i++]);
  }
  return i;
}

// One argument after the program name.
std::size_t read_argument(const char* line, std::size_t i, std::string* out) {
  bool in_quotes = false;
  for (;;) {
    std::size_t backslashes = 0;
    while (line[i] == '\\') {
      ++backslashes;
      ++i;
    }
    bool copy = true;
    if (line[i] == '"') {
      if (backslashes % 2 == 0) {
        if (in_quotes && line[i + 1] == '"') {
          // Two quotes inside quoted text: one literal quote, the group goes on.
          ++i;
        } else {
          copy = false;
          in_quotes = !in_quotes;
        }
      }
      backslashes /= 2;
    }
    out->append(backslashes, '\\');
    if (line[i] == '\0' || (!in_quotes && is_blank(line[i]))) {
      return i;
    }
    if (copy) {
      if (double_byte_at(line, i)) {
        // The second byte is part of the character, never a quote or a blank.
        out->push_back(line[i++]);
      }
      out->push_back(line[i]);
    }
    ++i;
  }
}

std::vector<Word> split_words(const char* line) {
  std::vector<Word> words;
  std::size_t i = 0;
  // Leading blanks are skipped, as the process creation call does when it
  // looks for the program name.
  while (is_blank(line[i])) {
    ++i;
  }
  if (line[i] == '\0') {
    return words;
  }
  Word first;
  i = read_program_name(line, i, &first.text);
  first.end = i;
  words.push_back(std::move(first));
  for (;;) {
    while (is_blank(line[i])) {
      ++i;
    }
    if (line[i] == '\0') {
      return words;
    }
    Word word;
    i = read_argument(line, i, &word.text);
    word.end = i;
    words.push_back(std::move(word));
  }
}

bool is_interpreter_name(const std::string& word) {
  return strcasecmp(word.c_str(), "cmd") == 0 || strcasecmp(word.c_str(), "cmd.exe") == 0;
}

}  // namespace

std::vector<std::string> split_command_line(const char* line) {
  std::vector<std::string> result;
  for (Word& word : split_words(line)) {
    result.push_back(std::move(word.text));
  }
  return result;
}

bool parse_command_line(const char* line, ParsedCommand* parsed) {
  std::vector<Word> words = split_words(line);
  if (words.empty()) {
    return false;
  }
  parsed->program = words[0].text;
  parsed->argv.clear();
  // "cmd /C LINE" hands LINE to the interpreter as one unsplit argument, the
  // way Windows gives a batch line to its interpreter: the interpreter does
  // its own quoting and must see the text exactly as written.
  if (words.size() >= 2 && is_interpreter_name(words[0].text)) {
    const std::size_t start = words[0].end;
    std::size_t pos = start;
    while (is_blank(line[pos])) {
      ++pos;
    }
    const std::size_t word_end = words[1].end;
    if (word_end == pos + 2 && line[pos] == '/' && (line[pos + 1] == 'C' || line[pos + 1] == 'c')) {
      std::size_t rest = word_end;
      if (is_blank(line[rest])) {
        ++rest;
      }
      parsed->program = "cmd";
      parsed->argv = {"cmd", "/C", std::string(line + rest)};
      return true;
    }
  }
  for (Word& word : words) {
    parsed->argv.push_back(std::move(word.text));
  }
  return true;
}

}  // namespace port::posix
