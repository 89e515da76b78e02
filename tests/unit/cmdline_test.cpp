// Splitting command-line strings by the Windows runtime's rules, read per
// Shift_JIS character, and the "cmd /C" hand-over.
#include "port/posix/cmdline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "port/posix/path.h"

namespace {

using port::posix::native_path;
using port::posix::parse_command_line;
using port::posix::ParsedCommand;
using port::posix::split_command_line;
using Words = std::vector<std::string>;

// The arguments after a program name "p".
Words args_of(const std::string& tail) {
  Words words = split_command_line(("p " + tail).c_str());
  EXPECT_FALSE(words.empty());
  EXPECT_EQ(words.front(), "p");
  return Words(words.begin() + 1, words.end());
}

TEST(SplitCommandLine, RuntimeDocumentedExamples) {
  EXPECT_EQ(args_of(R"("a b c" d e)"), (Words{"a b c", "d", "e"}));
  EXPECT_EQ(args_of(R"("ab\"c" "\\" d)"), (Words{"ab\"c", "\\", "d"}));
  EXPECT_EQ(args_of(R"(a\\\b d"e f"g h)"), (Words{R"(a\\\b)", "de fg", "h"}));
  EXPECT_EQ(args_of(R"(a\\\"b c d)"), (Words{R"(a\"b)", "c", "d"}));
  EXPECT_EQ(args_of(R"(a\\\\"b c" d e)"), (Words{R"(a\\b c)", "d", "e"}));
  EXPECT_EQ(args_of(R"(a"b"" c d)"), (Words{"ab\" c d"}));
}

TEST(SplitCommandLine, BlanksTabsAndEmptyArguments) {
  EXPECT_EQ(args_of("a\tb \t c   "), (Words{"a", "b", "c"}));
  EXPECT_EQ(args_of(R"("" x "")"), (Words{"", "x", ""}));
  EXPECT_EQ(args_of(R"(a "" )"), (Words{"a", ""}));
  EXPECT_EQ(args_of(R"("unterminated group)"), (Words{"unterminated group"}));
  EXPECT_EQ(args_of(R"(trailing\)"), (Words{"trailing\\"}));
  EXPECT_EQ(args_of(R"(\\\\)"), (Words{R"(\\\\)"}));
  EXPECT_TRUE(split_command_line("").empty());
  EXPECT_TRUE(split_command_line(" \t ").empty());
}

TEST(SplitCommandLine, ProgramNameKeepsBackslashesAndDropsQuotes) {
  EXPECT_EQ(split_command_line(R"("C:\dir with\prog.exe" x)"),
            (Words{R"(C:\dir with\prog.exe)", "x"}));
  // A backslash before a quote does not escape it in the program name.
  EXPECT_EQ(split_command_line(R"(a\"b c" d)"), (Words{R"(a\b c)", "d"}));
  EXPECT_EQ(split_command_line("  lead\tx"), (Words{"lead", "x"}));
}

TEST(SplitCommandLine, ShiftJisTrailBytesAreNeverEscapesOrBlanks) {
  // 0x95 0x5C is one character whose second byte looks like a backslash: the
  // quote after it closes the group instead of being escaped.
  const std::string hyo = "\x95\x5C";
  EXPECT_EQ(args_of("\"" + hyo + "\" next"), (Words{hyo, "next"}));
  EXPECT_EQ(args_of(hyo + "\\\"q"), (Words{hyo + "\"q"}));
  EXPECT_EQ(split_command_line(("\"" + hyo + "\" x").c_str()), (Words{hyo, "x"}));
  // A lead byte as the very last byte stands alone; nothing is read past the end.
  EXPECT_EQ(args_of("a\x81"), (Words{"a\x81"}));
  EXPECT_EQ(split_command_line("\x81"), (Words{"\x81"}));
}

TEST(ParseCommandLine, OrdinaryLine) {
  ParsedCommand parsed;
  ASSERT_TRUE(parse_command_line(R"(tool.exe "a b" c)", &parsed));
  EXPECT_EQ(parsed.program, "tool.exe");
  EXPECT_EQ(parsed.argv, (Words{"tool.exe", "a b", "c"}));
  EXPECT_FALSE(parse_command_line("   ", &parsed));
}

TEST(ParseCommandLine, InterpreterGetsTheRestUnsplit) {
  ParsedCommand parsed;
  ASSERT_TRUE(parse_command_line(R"(cmd.exe /C type a\b | x "y  z" > o)", &parsed));
  EXPECT_EQ(parsed.program, "cmd");
  EXPECT_EQ(parsed.argv, (Words{"cmd", "/C", R"(type a\b | x "y  z" > o)"}));

  ASSERT_TRUE(parse_command_line("CMD /c  two blanks ", &parsed));
  EXPECT_EQ(parsed.argv, (Words{"cmd", "/C", " two blanks "}));

  ASSERT_TRUE(parse_command_line("Cmd.Exe /C", &parsed));
  EXPECT_EQ(parsed.argv, (Words{"cmd", "/C", ""}));
}

TEST(ParseCommandLine, NotTheInterpreterForm) {
  ParsedCommand parsed;
  ASSERT_TRUE(parse_command_line("cmd /K x y", &parsed));
  EXPECT_EQ(parsed.argv, (Words{"cmd", "/K", "x", "y"}));
  ASSERT_TRUE(parse_command_line("cmd /Cx y", &parsed));
  EXPECT_EQ(parsed.argv, (Words{"cmd", "/Cx", "y"}));
  ASSERT_TRUE(parse_command_line("cmdx /C y", &parsed));
  EXPECT_EQ(parsed.program, "cmdx");
  EXPECT_EQ(parsed.argv, (Words{"cmdx", "/C", "y"}));
}

TEST(NativePath, BackslashesBecomeSlashesOutsideDoubleByteCharacters) {
  EXPECT_EQ(native_path(R"(\tmp\a\b.txt)"), "/tmp/a/b.txt");
  EXPECT_EQ(native_path("/already/posix"), "/already/posix");
  EXPECT_EQ(native_path("d\\\x95\x5C\\f"), "d/\x95\x5C/f");
  EXPECT_EQ(native_path("end\\\x81"), "end/\x81");
}

}  // namespace
