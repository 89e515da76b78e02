// The harness and the recording double on which every program test rests:
// streams captured without deadlock, time limits kept, environment changes
// and journals exact, on both targets.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "tests/programs/program_test.h"

namespace {

using namespace std::chrono_literals;

// The doubles run as the program fixtures run the programs; the tests of
// run() itself call it directly.
class Harness : public lxt::ProgramTest {};

TEST_F(Harness, LargeStreamsBothWaysDoNotDeadlock) {
  // Far more than a pipe holds, so the child blocks on output while we are
  // still feeding its input unless both are served together.
  std::string input;
  for (int i = 0; input.size() < (1u << 20); ++i) input += "line " + std::to_string(i) + "\r\n\x95\x5C\n";
  lxt::RunOptions o;
  o.set("LXT_STDIN", "copy");
  o.stdin_data = input;
  auto r = lxt::run({lxt::double_path("lxrecord")}, o);
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.out == input) << "copied " << r.out.size() << " of " << input.size() << " bytes";
}

TEST_F(Harness, TimeLimitKillsTheProgram) {
  lxt::RunOptions o;
  o.set("LXT_SLEEP_MS", "60000");
  o.timeout = 500ms;
  const auto start = std::chrono::steady_clock::now();
  auto r = lxt::run({lxt::double_path("lxrecord")}, o);
  EXPECT_TRUE(r.timed_out);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
}

TEST_F(Harness, EnvironmentChangesWorkingDirectoryAndExactArguments) {
  ::setenv("LXTEST_INHERITED", "from the test", 1);
  ::setenv("LXTEST_DROPPED", "x", 1);
  const std::string recorded = "LXTEST_INHERITED,LXTEST_DROPPED,LXTEST_EMPTY,LXTEST_NEW";
  lxt::RunOptions o;
  o.unset("LXTEST_DROPPED");
  o.set("LXTEST_NEW", "new value");
  const std::vector<std::string> args{"two words", "", "line\nbreak", "end", "quote\"in", "back\\slash\\"};
  EXPECT_EQ(run_double("lxrecord", args, o, recorded).status, 0);
  EXPECT_EQ(run_double("lxrecord", {"second"}, o, recorded).status, 0);
  ::unsetenv("LXTEST_INHERITED");
  ::unsetenv("LXTEST_DROPPED");

  auto records = journal();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].program, "lxrecord");
  EXPECT_EQ(records[0].args, args);
  EXPECT_EQ(records[1].args, std::vector<std::string>{"second"});
  EXPECT_EQ(records[0].env["LXTEST_INHERITED"], std::optional<std::string>("from the test"));
  EXPECT_EQ(records[0].env["LXTEST_DROPPED"], std::nullopt);
  EXPECT_EQ(records[0].env["LXTEST_EMPTY"], std::nullopt);
  EXPECT_EQ(records[0].env["LXTEST_NEW"], std::optional<std::string>("new value"));
  EXPECT_NE(records[0].pid, records[1].pid);
}

TEST_F(Harness, CopiesUnderAnotherNameTakeTheirOwnOptions) {
  const std::string seed = lxt::install_double("lxrecord", dir_.path(), "seedurls");
  lxt::RunOptions o;
  o.set("LXT_EXIT", "1");
  o.set("LXT_SEEDURLS_EXIT", "5");
  o.set("LXT_SEEDURLS_PRINT", "urls");
  auto r = run_argv({seed}, o);
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(r.out, "urls");
  EXPECT_EQ(run_double("lxrecord", {}, o).status, 1);
  auto records = journal();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].program, "seedurls");
  EXPECT_EQ(records[1].program, "lxrecord");
}

TEST_F(Harness, StdinReadIsRecordedAndBackgroundProgramsAreWaitedFor) {
  lxt::RunOptions o;
  o.set("LXT_STDIN", "read");
  o.set("LXT_EXIT", "3");
  o.stdin_data = std::string("a\0b\r\n", 5);
  EXPECT_EQ(run_double("lxrecord", {}, o).status, 3);
  auto records = journal();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].stdin_data, std::optional<std::string>(std::string("a\0b\r\n", 5)));

  lxt::RunOptions b;
  b.set("LXT_EXIT", "9");
  lxt::Background bg({lxt::double_path("lxrecord")}, b);
  EXPECT_EQ(bg.wait(60s), std::optional<int>(9));
}

void read_truncated_journal() {
  lxt::TempDir tmp;
  tmp.write("journal", "record\narg 10\nshort\nend\n");
  lxt::read_journal(tmp.file("journal"));
}

TEST_F(Harness, MalformedJournalIsReported) {
  EXPECT_NONFATAL_FAILURE(read_truncated_journal(), "malformed journal");
}

}  // namespace
