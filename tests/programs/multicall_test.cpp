// The one POSIX program file: the program run is the one named by the link
// that was started (its base name, a trailing ".exe" in any letter case
// dropped), whatever argv[0] says; another name gets a usage line; and a
// program started through a link elsewhere still finds its siblings in the
// file's folder.
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
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

// However a link is started, the program it names runs: as that program
// started by its own name in bin/, without arguments (its usage).
TEST_F(ProgramFile, TheLinkStartedNamesTheProgram) {
  struct Case {
    const char* link;
    const char* program;  // the program it runs; nullptr: none, a usage line
    std::vector<std::string> before = {};  // words before the link's path
    std::vector<std::string> after = {};   // words after it
    bool no_path = false;  // run in the test's folder, with no PATH to search
  };
  const std::vector<Case> cases{
      {"storeseal.EXE", "storeseal"},   {"cyclerun.exe", "cyclerun"}, {"htmlsift2", "htmlsift2"},
      {"StopServer.eXe", "StopServer"}, {"wordsift.Exe", "wordsift"}, {"Cyclerun", nullptr},
      {"storeseal.exe.exe", nullptr},   {".exe", nullptr},            {"htmlsift2x", nullptr},
      {"exe", nullptr},                 {"cmd.", nullptr},
      // A caller may give any argv[0] (bash's exec -a): the link run decides.
      {"StopServer", "StopServer", {"/bin/bash", "-c", "exec -a cyclerun \"$0\""}},
      // cmd started through a link in the test's folder, with no PATH to
      // search and no cyclerun in the current directory: its own folder is
      // the file's, bin/, where cyclerun is.
      {"cmd", "cyclerun", {}, {"/C", "cyclerun"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.link);
    std::vector<std::string> argv = c.before;
    argv.push_back(link(c.link));
    argv.insert(argv.end(), c.after.begin(), c.after.end());
    lxt::RunOptions options;
    if (c.no_path) {
      options.cwd = dir_.path();
      options.set("PATH", "/nonexistent");
    }
    const lxt::RunResult got = lxt::run(argv, options);
    if (c.program != nullptr) {
      const lxt::RunResult expected = lxt::run({lxt::program(c.program)});
      EXPECT_EQ(got.status, expected.status);
      EXPECT_EQ(said(got), said(expected));
      EXPECT_NE(got.out + got.err, "");
      EXPECT_NE(expected.err, "");
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

// A copy of the program file, or a hard link to it, outside its folder would
// find neither the interpreter nor the other programs beside it: it starts
// nothing and says why. A symbolic link starts the program wherever it is.
TEST_F(ProgramFile, ACopyOfTheFileOutsideItsFolderStartsNothing) {
  const std::string file = lxt::bin_dir() + "/" + kProgramFile;
  const std::string expected = said(lxt::run({lxt::program("cyclerun")}));
  for (const std::string kind : {"copy", "hard link", "link"}) {
    SCOPED_TRACE(kind);
    const std::string path = dir_.file("cyclerun");
    ::unlink(path.c_str());
    if (kind == "copy") std::filesystem::copy_file(file, path);
    // A hard link needs the same file system: the copy stands for it elsewhere.
    if (kind == "hard link" && ::link(file.c_str(), path.c_str()) != 0) continue;
    if (kind == "link") {
      ASSERT_EQ(::symlink(file.c_str(), path.c_str()), 0);
    }
    const lxt::RunResult got = lxt::run({path});
    EXPECT_EQ(got.status, 1);
    if (kind == "link") {
      EXPECT_EQ(said(got), expected);
    } else {
      EXPECT_NE(got.err.find("cyclerun: not started: its program file is in " + dir_.path() + ", whose cmd is not"),
                std::string::npos)
          << got.err;
      EXPECT_EQ(got.out, "");
    }
  }
}

}  // namespace
