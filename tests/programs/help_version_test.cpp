// --help and --version across every program of the system: each, as the one
// argument, answers on standard output with status 0 and touches nothing;
// among other arguments it is a word like any other.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/programs/program_test.h"

namespace {

namespace fs = std::filesystem;

struct Row {
  std::string program;
  std::vector<std::string> args;
  std::string out_start;  // UTF-8; compared in Shift_JIS on Windows
  int status;
  std::string err_start;  // empty: nothing on standard error
};

// The programs that the POSIX build alone has.
const std::set<std::string> kPosixOnly = {"cmd", "lorvex-cycle", "lorvex-status"};

std::vector<Row> rows() {
  // program and its usage text, as each has always worded it.
  const std::vector<std::pair<std::string, std::string>> usages = {
      {"cyclerun", "Usage: cyclerun.exe ini_file\n"},
      {"storeseal", "Usage: storeseal.exe [--save-space] GathererIDString Directory\n"},
      {"packdump", "Usage: packdump.exe\n"},
      {"LaunchCrawler", "Usage: LaunchCrawler.exe ini_file\n"},
      {"LaunchServer", "Usage: LaunchServer.exe ini_file.\n"},
      {"StopServer", "Usage: StopServer.exe ini_file mode(NORMAL|FORCED).\n"},
      {"skim", "Usage: skim.exe [file ...]\n"},
      {"htmlsift", "Usage: htmlsift[.exe] filename\n"},
      {"htmlsift2", "Usage: htmlsift2[.exe] filename\n"},
      {"freelancesift", "使用法: freelancesift.exe ファイル\n"},
      {"ichitarosift", "使用法: ichitarosift.exe ファイル\n"},
      {"ppointsift", "使用法: ppointsift.exe ファイル\n"},
      {"rtfsift", "使用法: rtfsift.exe ファイル\n"},
      {"pdfsift", "使用法: pdfsift.exe ファイル\n"},
      {"wordsift", "使用法: wordsift.exe ファイル\n"},
      {"lotus123sift", "使用法: lotus123sift.exe ファイル\n"},
      {"writesift", "使用法: writesift.exe ファイル\n"},
      {"cmd", "Usage: cmd /C LINE\n"},
      {"lorvex-cycle", "Usage: lorvex-cycle SETTINGS\n"},
      {"lorvex-status", "Usage: lorvex-status [--brief] [SETTINGS ...]\n"},
  };
  std::vector<Row> table;
  for (const auto& [program, usage] : usages) {
    table.push_back({program, {"--help"}, usage, 0, ""});
    table.push_back({program, {"--version"}, program + " " + LXT_VERSION + "\n", 0, ""});
  }
  // Among other arguments the words change nothing: the usage error stays.
  // (StopServer takes any second word as a mode: this one is a stop, as before.)
  table.push_back({"StopServer", {"x.ini", "--help"}, "", 254, "StopServer: "});
  table.push_back({"LaunchCrawler", {"--help", "--version"}, "", 1, "LaunchCrawler: "});
  table.push_back({"cyclerun", {"--version", "x"}, "", 1, "cyclerun: "});
  table.push_back({"htmlsift", {"--help", "x"}, "", 1, "Usage: htmlsift[.exe] filename"});
  table.push_back({"cmd", {"--help", "x"}, "", 1, "Usage: cmd /C LINE"});
  table.push_back({"lorvex-cycle", {"--help", "x"}, "", 64, "Usage: lorvex-cycle SETTINGS"});
  // A help word that is not exactly one of the two is a name like any other.
  table.push_back({"skim", {"--HELP"}, "", 1, "skim: fopen"});
  return table;
}

std::string describe(const Row& row) {
  std::ostringstream text;
  text << row.program;
  for (const auto& arg : row.args) text << ' ' << arg;
  return text.str();
}

// Each row runs in a working folder apart, which must hold nothing new after.
class HelpAndVersion : public lxt::ProgramTest {
 protected:
  HelpAndVersion() : ProgramTest("", Journal::kNone) {}
};

TEST_F(HelpAndVersion, EveryRowAnswersAsItsTableSaysAndWritesNothing) {
  for (const Row& row : rows()) {
    SCOPED_TRACE(describe(row));
    if (lxt::is_wine() && kPosixOnly.count(row.program) != 0) continue;
    // A data directory: packdump run there without --help would rebuild its dump.
    lxt::TempDir cwd;
    cwd.write("PRODUCTION.gdbm", "templates\n");
    lxt::RunOptions options;
    options.cwd = cwd.path();
    // An ASCII locale: a POSIX terminal is then given UTF-8; a Windows
    // console reads the texts' own code page.
    options.set("LC_ALL", "C");
    const lxt::RunResult result = run_program(row.program, row.args, options);
    EXPECT_EQ(result.status, row.status) << result.err;
    const std::string expected_out = lxt::is_wine() ? lxt::convert(row.out_start, "CP932", "UTF-8") : row.out_start;
    if (row.out_start.empty()) {
      EXPECT_EQ(result.out, "");
    } else {
      EXPECT_EQ(result.out, expected_out);
    }
    if (row.err_start.empty()) {
      EXPECT_EQ(result.err, "");
    } else {
      EXPECT_EQ(result.err.find(row.err_start) == std::string::npos ? "" : row.err_start, row.err_start)
          << result.err;
    }
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(cwd.path())) names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"PRODUCTION.gdbm"}) << "something was written in the working directory";
    EXPECT_EQ(cwd.read("PRODUCTION.gdbm"), "templates\n");
  }
}

// The table covers every program the build makes for its target.
TEST_F(HelpAndVersion, TheTableNamesEveryProgram) {
  std::set<std::string> in_table;
  for (const Row& row : rows()) in_table.insert(row.program);
  std::istringstream built(LXT_PROGRAMS);
  std::string name;
  while (built >> name) EXPECT_EQ(in_table.count(name), 1u) << name << " has no row";
}

}  // namespace
