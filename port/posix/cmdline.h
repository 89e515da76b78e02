#pragma once
// Splitting a Windows command-line string into program arguments, by the rules
// of the Windows C runtime, read per Shift_JIS character.
#include <string>
#include <vector>

namespace port::posix {

// Splits the whole line into words.
std::vector<std::string> split_command_line(const char* line);

// The program to start for a command line and its argument vector (argv[0]
// included). A first word "cmd.exe" or "cmd" (any case) followed by "/C" or
// "/c" starts the interpreter "cmd" with argv {"cmd", "/C", REST}, REST being
// the rest of the line after "/C" and one blank (or tab), unsplit.
struct ParsedCommand {
  std::string program;             // the word to look up with find_program
  std::vector<std::string> argv;   // argv[0] is the first word (quotes removed)
};
// Returns false for a line without any word.
bool parse_command_line(const char* line, ParsedCommand* parsed);

}  // namespace port::posix
