// Splitting arbitrary command lines must never crash or read past the text,
// and every word it yields comes from the line's own bytes. A path that the
// quoting routine puts into a line comes back out of it as one word, itself:
// split as a program's argument, and split by the interpreter's parser as a
// name of its own commands (separators and all).
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "admin/common/command_line.h"
#include "port/posix/cmd/parse.h"
#include "port/posix/cmdline.h"

namespace {

// The word, as quote (quote_path or quote_argument) writes it, between two
// other words: splitting the line gives the three back, or quoting refused.
void quoted_word_comes_back(const std::string& word, int (*quote)(const char*, char*, std::size_t)) {
  std::vector<char> out(word.size() * 2 + 3);
  const int result = quote(word.c_str(), out.data(), out.size());
  if (result == kLineTooLong) __builtin_trap();  // twice the size and the quotes always fit
  if (result != 0) return;
  const std::string line = std::string("prog ") + out.data() + " next";
  if (port::posix::split_command_line(line.c_str()) != std::vector<std::string>{"prog", word, "next"}) {
    __builtin_trap();
  }
}

// The word, checked and quoted as the programs put a path into an
// interpreter line, between a command name and another word: the
// interpreter's parser gives the three back as names of its commands.
void name_comes_back_from_the_interpreter(const std::string& word) {
  if (check_line_value(word.c_str()) != 0) return;
  std::vector<char> out(word.size() * 2 + 3);
  if (quote_path(word.c_str(), out.data(), out.size()) != 0) __builtin_trap();
  const std::string quoted = out.data();
  // Backslashes doubled before a closing quote (for the argument splitter)
  // name the same path; the interpreter keeps them as they are.
  if (quoted.size() > word.size() && !word.empty() && word.back() == '\\') return;
  const std::string line = "del " + quoted + " next";
  port::posix::cmd::Line parsed;
  const port::posix::cmd::Lookup none = [](const std::string&, std::string*) { return false; };
  if (line.size() > port::posix::cmd::kMaxLine) return;
  if (port::posix::cmd::parse_line(line, none, &parsed) != 0 || parsed.steps.size() != 1 ||
      parsed.steps[0].pipeline.commands.size() != 1 ||
      !parsed.steps[0].pipeline.commands[0].redirections.empty()) {
    __builtin_trap();
  }
  const auto words = port::posix::cmd::split_builtin_words(parsed.steps[0].pipeline.commands[0].text);
  if (words.size() != 3 || words[0].text != "del" || words[1].text != word || words[2].text != "next") {
    __builtin_trap();
  }
  // Never read as a switch of the command.
  if (!words[1].quoted && word.size() == 2 && word[0] == '/' && std::isalpha(static_cast<unsigned char>(word[1]))) {
    __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string line(reinterpret_cast<const char*>(data), size);
  line = line.c_str();  // the splitter takes a zero-terminated string
  auto words = port::posix::split_command_line(line.c_str());
  size_t total = 0;
  for (const auto& w : words) total += w.size();
  if (total > line.size()) __builtin_trap();
  port::posix::ParsedCommand parsed;
  if (port::posix::parse_command_line(line.c_str(), &parsed) && parsed.argv.empty()) __builtin_trap();

  quoted_word_comes_back(line, &quote_path);
  quoted_word_comes_back(line, &quote_argument);
  name_comes_back_from_the_interpreter(line);
  return 0;
}
