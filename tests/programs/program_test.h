#pragma once
// The base of every program fixture: the test's temporary folder with the
// installation in it, a program run the way the fixtures run them (the
// recording double's journal in the folder, the tool folders searched first,
// line ends folded), the journal read back, and the patterns of the lines
// the programs write.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/programs/harness.h"

namespace lxt {

// The local time stamp of every line ("YYYYMMDD HH:MM:SS"), as a pattern.
extern const char kStampPattern[];
// "PROGRAM: STAMP: " of an administration program's line, as a pattern.
std::string diagnostic_prefix(const std::string& program);
// Whether the pattern (ECMAScript) matches somewhere in the text.
bool matches(const std::string& text, const std::string& pattern);

class ProgramTest : public ::testing::Test {
 protected:
  // root: the folder of the test folder that holds the installation ("": the test folder).
  explicit ProgramTest(const std::string& root = "") : install_(dir_, root) {}

  // Runs the system's program with the journal's environment (recording the
  // variables of env_names), in options.cwd or the test folder, with carriage
  // returns before line feeds dropped from both streams.
  RunResult run_program(const std::string& name, const std::vector<std::string>& args, RunOptions options = {},
                        const std::string& env_names = "") const;
  std::string journal_path() const { return dir_.file("journal"); }
  std::vector<Record> journal() const { return read_journal(journal_path()); }
  // The names the recorded starts ran as, in the order they were written.
  std::vector<std::string> programs() const { return journal_programs(journal_path()); }

  TempDir dir_;
  Installation install_;
};

}  // namespace lxt
