// The one POSIX program file: the program run is the one named by the link
// that was started (its base name, a trailing ".exe" in any letter case
// dropped), whatever argv[0] says; another name gets a usage line; and a
// program started through a link elsewhere still finds its siblings in the
// file's folder.
#include <unistd.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "tests/programs/program_test.h"

namespace {

constexpr char kProgramFile[] = "lorvex-programs";

// A run's words without the time of each line: two runs compared may fall
// in different seconds.
std::string said(const lxt::RunResult& result) {
  static const std::regex stamp(std::string(": ") + lxt::kStampPattern + ": ");
  return std::regex_replace(result.out + "|" + result.err, stamp, ": STAMP: ");
}

class ProgramFile : public lxt::ProgramTest {
 protected:
  // A link of this name in a folder of the test's, to the program file.
  std::string link(const std::string& name) {
    const std::string path = dir_.file(name);
    EXPECT_EQ(::symlink((lxt::bin_dir() + "/" + kProgramFile).c_str(), path.c_str()), 0) << path;
    return path;
  }
};

TEST_F(ProgramFile, TheLinkStartedNamesTheProgram) {
  struct Case {
    const char* link;
    const char* program;  // the program it runs; nullptr: none, a usage line
  };
  const std::vector<Case> cases{
      {"storeseal.EXE", "storeseal"},   {"cyclerun.exe", "cyclerun"}, {"htmlsift2", "htmlsift2"},
      {"StopServer.eXe", "StopServer"}, {"wordsift.Exe", "wordsift"}, {"Cyclerun", nullptr},
      {"storeseal.exe.exe", nullptr},   {".exe", nullptr},            {"htmlsift2x", nullptr},
      {"exe", nullptr},                 {"cmd.", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.link);
    const lxt::RunResult got = lxt::run({link(c.link)});
    if (c.program != nullptr) {
      // Started by the program's own name in bin/, without arguments: its usage.
      const lxt::RunResult expected = lxt::run({lxt::program(c.program)});
      EXPECT_EQ(got.status, expected.status);
      EXPECT_EQ(said(got), said(expected));
      EXPECT_NE(got.out + got.err, "");
    } else {
      EXPECT_EQ(got.status, 1);
      EXPECT_EQ(got.out, "");
      EXPECT_NE(got.err.find("Usage: "), std::string::npos) << got.err;
      EXPECT_NE(got.err.find(" storeseal "), std::string::npos) << got.err;
      EXPECT_NE(got.err.find("\"" + std::string(c.link) + "\""), std::string::npos) << got.err;
      EXPECT_EQ(got.err.find('\n'), got.err.size() - 1) << "one line: " << got.err;
    }
  }
  // The file under its own name is no program.
  const lxt::RunResult itself = lxt::run({lxt::bin_dir() + "/" + kProgramFile});
  EXPECT_EQ(itself.status, 1);
  EXPECT_NE(itself.err.find("Usage: "), std::string::npos) << itself.err;
}

TEST_F(ProgramFile, ArgvZeroDoesNotChooseTheProgram) {
  // A caller may give any argv[0] (bash's exec -a): the link run decides.
  const std::string stopserver = link("StopServer");
  const lxt::RunResult got = lxt::run({"/bin/bash", "-c", "exec -a cyclerun \"$0\"", stopserver});
  const lxt::RunResult expected = lxt::run({lxt::program("StopServer")});
  EXPECT_EQ(got.status, expected.status);
  EXPECT_EQ(said(got), said(expected));
}

TEST_F(ProgramFile, AProgramStartedThroughALinkElsewhereFindsItsSiblingsBesideTheFile) {
  // cmd started through a link in the test's folder, with no PATH to search
  // and no cyclerun in the current directory: its own folder is the file's,
  // bin/, where cyclerun is.
  const std::string cmd = link("cmd");
  lxt::RunOptions options;
  options.cwd = dir_.path();
  options.set("PATH", "/nonexistent");
  const lxt::RunResult got = lxt::run({cmd, "/C", "cyclerun"}, options);
  const lxt::RunResult expected = lxt::run({lxt::program("cyclerun")});
  EXPECT_EQ(got.status, expected.status);
  EXPECT_EQ(said(got), said(expected));
  EXPECT_NE(expected.err, "");
}

}  // namespace
