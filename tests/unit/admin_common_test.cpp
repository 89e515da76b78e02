// The shared administration runtime: the settings splitter, the diagnostic line, the command runner and
// the installation's number values.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <regex>
#include <stdlib.h>
#include <unistd.h>
#include <string>

#include "admin/common/command_line.h"
#include "admin/common/diagnostics.h"
#include "admin/common/exec_cmd.h"
#include "admin/common/installation.h"
#include "admin/common/settings_line.h"
#include "port/interpreter.h"
#include "tests/unit/port_posix_test_support.h"

namespace {

struct Split {
  int result;
  std::string name, value;
};

Split split(const char* line, std::size_t name_size = 64, std::size_t value_size = 64) {
  char name[64] = "untouched";
  char value[64] = "untouched";
  const int result = GetAttrVal(line, name, name_size, value, value_size);
  return {result, name, value};
}

TEST(GetAttrVal, SplitsAtTheFirstEqualsSignWithoutTrimming) {
  auto s = split("Data-Directory=C:\\data");
  EXPECT_EQ(s.result, 0);
  EXPECT_EQ(s.name, "Data-Directory");
  EXPECT_EQ(s.value, "C:\\data");

  s = split("essencecmd=essence.exe --max=3 a=b");
  EXPECT_EQ(s.value, "essence.exe --max=3 a=b");

  s = split("Data-Directory = x ");
  EXPECT_EQ(s.name, "Data-Directory ");
  EXPECT_EQ(s.value, " x ");

  // Leading "=" signs are passed over; a second "=" right behind the name belongs to the value.
  s = split("==KESTREL_HOME==x");
  EXPECT_EQ(s.result, 0);
  EXPECT_EQ(s.name, "KESTREL_HOME");
  EXPECT_EQ(s.value, "=x");
}

TEST(GetAttrVal, RefusesLinesWithoutNameOrValue) {
  for (const char* line : {"Gatherer-Name=", "Keep-Cache", "", "   ", " #x", "=", "===", "=value"}) {
    EXPECT_EQ(split(line).result, -1) << '"' << line << '"';
  }
  char name[8], value[8];
  EXPECT_EQ(GetAttrVal(nullptr, name, sizeof name, value, sizeof value), -1);
}

TEST(GetAttrVal, NeverWritesPastTheBuffers) {
  EXPECT_EQ(split("ABCDEFG=1", 8).result, 0);
  EXPECT_EQ(split("ABCDEFGH=1", 8).result, kAttrNameTooLong);
  EXPECT_EQ(split("A=1234567", 64, 8).result, 0);
  const auto s = split("A=12345678", 64, 8);
  EXPECT_EQ(s.result, kAttrValueTooLong);
  EXPECT_EQ(s.name, "");
}

TEST(QuotePath, QuotesOnlyWhatTheInterpreterWouldTakeApart) {
  struct Case {
    const char* path;
    int result;
    const char* word;
  } cases[] = {
      {"C:\\gatherers\\demo\\gatherinput", 0, "C:\\gatherers\\demo\\gatherinput"},
      {"C:\\gatherers\\demo 2\\cache-liburl", 0, "\"C:\\gatherers\\demo 2\\cache-liburl\""},
      {"C:\\Program Files (x86)\\gzip.exe", 0, "\"C:\\Program Files (x86)\\gzip.exe\""},
      {"a&b", 0, "\"a&b\""}, {"a|b", 0, "\"a|b\""}, {"a<b", 0, "\"a<b\""}, {"a>b", 0, "\"a>b\""},
      {"a^b", 0, "\"a^b\""}, {"a\tb", 0, "\"a\tb\""},
      // The interpreter's own commands split names at , ; = as at blanks.
      {"g,old", 0, "\"g,old\""}, {"g;old", 0, "\"g;old\""}, {"g=old", 0, "\"g=old\""},
      // Delayed expansion is off in the lines the programs start.
      {"g!old", 0, "g!old"},
      // A word that is nothing but a switch would be read as one.
      {"/S", 0, "\"/S\""}, {"/srv/g", 0, "/srv/g"},
      // A closing quote after backslashes would be escaped by the last of them.
      {"C:\\a b\\", 0, "\"C:\\a b\\\\\""},
      // Second bytes 0x7C ("|") and 0x5E ("^") belong to their characters.
      {"\x83\x7C\x83\x5E", 0, "\x83\x7C\x83\x5E"},
      {"C:\\a\"b", kPathHoldsQuote, ""},
      {"C:\\a b\"", kPathHoldsQuote, ""},
      // A last lead byte would take the blank or quote after it; the same byte as a second byte is whole.
      {"C:\\\xE5\x8F\x8E", kPathHalfCharacter, ""}, {"\x81", kPathHalfCharacter, ""},
      {"\x81\x81", 0, "\x81\x81"}, {"", 0, "\"\""},
  };
  for (const Case& c : cases) {
    char out[64] = "untouched";
    EXPECT_EQ(quote_path(c.path, out, sizeof out), c.result) << c.path;
    EXPECT_STREQ(out, c.word) << c.path;
  }
  char small[6] = "xxxxx";
  EXPECT_EQ(quote_path("a b c", small, sizeof small), kLineTooLong);  // 7 bytes with quotes
  EXPECT_STREQ(small, "");
  EXPECT_EQ(quote_path("abcde", small, sizeof small), 0);

  // An argument the line always gives quoted, by the same rules.
  char out[32];
  EXPECT_EQ(quote_argument("demo", out, sizeof out), 0);
  EXPECT_STREQ(out, "\"demo\"");
  EXPECT_EQ(quote_argument("id\\", out, sizeof out), 0);
  EXPECT_STREQ(out, "\"id\\\\\"");
  EXPECT_EQ(quote_argument("a\"b", out, sizeof out), kPathHoldsQuote);
}

// The one check of values for interpreter lines: what no quoting names
// exactly is refused, with its reason; the part rule is the file system's.
TEST(CheckLineValue, RefusesWhatNoQuotingNamesExactly) {
  struct Case {
    const char* value;
    bool is_path;
    int result;
  } cases[] = {
      {"C:\\gatherers\\g,old", true, 0},
      {"C:\\g%OS%", true, kPathExpands},
      {"a%b%c", false, kPathExpands},
      {"100%", true, 0},  // a lone percent sign expands nothing
      {"g\"x", true, kPathHoldsQuote},
      {"g\x95", true, kPathHalfCharacter},
      {"g\x95\x5C", true, 0},  // a whole character whose second byte is "\\"
      {"C:\\a\\..\\b\\.\\c", true, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(check_line_value(c.value, c.is_path), c.result) << c.value;
    if (c.result != 0) {
      EXPECT_NE(path_refusal(c.result), nullptr);
    }
  }
  // Windows drops a part's last dots and blanks; POSIX names them.
  for (const char* value : {"C:\\g.\\x", "C:\\g ", "g..", "C:\\g.\\"}) {
    EXPECT_EQ(check_line_value(value), port::drops_at_component_end('.') ? kPathDroppedEnd : 0) << value;
    EXPECT_EQ(check_line_value(value, false), 0) << value;
  }
}

TEST(ComposeShellLine, WrapsABodyThatBeginsWithAQuote) {
  char out[64];
  ASSERT_TRUE(compose_shell_line(out, sizeof out, "gzip -V > \\nul"));
  EXPECT_STREQ(out, "cmd.exe /C gzip -V > \\nul");
  ASSERT_TRUE(compose_shell_line(out, sizeof out, "\"C:\\a b\\gzip\" -V"));
  EXPECT_STREQ(out, "cmd.exe /C \"\"C:\\a b\\gzip\" -V\"");
  char small[16];
  EXPECT_FALSE(compose_shell_line(small, sizeof small, "gzip -V > \\nul"));
  EXPECT_STREQ(small, "");
}

TEST(InstallationSettings, NumberValuesAreTheirFirstFourBytesAndQuietIsSilent) {
  port_posix_test::TempDir dir;
  setenv("LORVEX_REGISTRY", dir.file("registry.reg").c_str(), 1);
  const struct {
    const char* value;  // CgiPortNo's line; null: none
    std::optional<std::uint32_t> number;
  } cases[] = {
      {"dword:00012345", 0x12345}, {"hex:50,00", 0x50}, {"hex:01,02,03,04,05", std::nullopt}, {nullptr, std::nullopt}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value != nullptr ? c.value : "none");
    port_posix_test::write_file(dir.file("registry.reg"), std::string("REGEDIT4\n[HKEY_LOCAL_MACHINE\\") +
                                                       installation::kEnvInfoKey + "]\n" +
                                                       (c.value ? std::string("\"CgiPortNo\"=") + c.value + "\n" : ""));
    testing::internal::CaptureStdout();
    const auto number = installation::number_value(installation::kEnvInfoKey, "CgiPortNo", installation::Quiet::kYes);
    const auto port = installation::service_port(installation::Quiet::kYes);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(number, c.number);
    EXPECT_EQ(port, c.number ? std::optional<std::uint16_t>(*c.number & 0xFFFF) : std::nullopt);
  }
  unsetenv("LORVEX_REGISTRY");
}

TEST(TimeStamp, IsLocalTimeInSeventeenCharacters) {
  const std::string stamp = time_stamp();
  EXPECT_TRUE(std::regex_match(stamp, std::regex("[0-9]{8} [0-2][0-9]:[0-5][0-9]:[0-6][0-9]"))) << stamp;
  EXPECT_EQ(time_stamp(), time_stamp());  // always the same buffer
}

TEST(Diagnostics, OneStampedLinePerCallWithItsKind) {
  const Diagnostics diagnostics("prog");
  std::FILE* log = std::tmpfile();
  ASSERT_NE(log, nullptr);
  diagnostics.say_in(log, "in the log %s %d", "text", 5);
  std::rewind(log);
  char text[256] = {};
  text[std::fread(text, 1, sizeof text - 1, log)] = '\0';
  std::fclose(log);
  testing::internal::CaptureStderr();
  diagnostics.say("said");
  diagnostics.error("two lines\n cmd = %s", "x");
  const std::string err = testing::internal::GetCapturedStderr();
  const std::string stamp = "prog: [0-9]{8} [0-9]{2}:[0-9]{2}:[0-9]{2}: ";
  EXPECT_TRUE(std::regex_match(text, std::regex(stamp + "in the log text 5\n"))) << text;
  EXPECT_TRUE(std::regex_match(err, std::regex(stamp + "said\n" + stamp + "ERROR: two lines\n cmd = x\n"))) << err;
}

class ExecCmd : public port_posix_test::InterpreterOnPath {};

TEST_F(ExecCmd, EmptyLineStartsNothing) {
  EXPECT_EQ(exec_cmd(nullptr), 0);
  EXPECT_EQ(exec_cmd(""), 0);
}

TEST_F(ExecCmd, ReturnsTheChildsExitStatus) {
  EXPECT_EQ(exec_cmd("/bin/sh -c \"exit 3\""), 3);
  EXPECT_EQ(exec_cmd("sh -c \"exit 0\""), 0);
  EXPECT_EQ(exec_cmd("sh -c \"kill -9 $$\""), 128 + 9);
}

TEST_F(ExecCmd, ReportsAProgramThatCannotBeStarted) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(exec_cmd("no-such-program.exe \"a b\""), -1);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(std::regex_match(err, std::regex("exec_cmd: [0-9]{8} [0-9:]{8}: Error occured in CreateProcess "
                                               "function \\(error information = 2\\)\\.\n cmd = no-such-program\\.exe "
                                               "\"a b\"\n")))
      << err;
}

TEST_F(ExecCmd, InterpreterRedirectionLandsInTheCurrentDirectory) {
  const port_posix_test::TempDir dir;
  char old[4096];
  ASSERT_NE(getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  const int status = exec_cmd("cmd.exe /C sh -c \"echo redirected\" > out.txt");
  ASSERT_EQ(chdir(old), 0);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(port_posix_test::read_file(dir.file("out.txt")), "redirected\n");
}

}  // namespace
