// The harness and the recording double on which every program test rests:
// streams captured without deadlock, time limits kept, environment changes
// and journals exact, on both targets.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "tests/programs/harness.h"

namespace {

using namespace std::chrono_literals;

TEST(Harness, LargeStreamsBothWaysDoNotDeadlock) {
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

TEST(Harness, TimeLimitKillsTheProgram) {
  lxt::RunOptions o;
  o.set("LXT_SLEEP_MS", "60000");
  o.timeout = 500ms;
  const auto start = std::chrono::steady_clock::now();
  auto r = lxt::run({lxt::double_path("lxrecord")}, o);
  EXPECT_TRUE(r.timed_out);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
}

TEST(Harness, EnvironmentChangesWorkingDirectoryAndExactArguments) {
  lxt::TempDir tmp;
  ::setenv("LXTEST_INHERITED", "from the test", 1);
  ::setenv("LXTEST_DROPPED", "x", 1);
  lxt::RunOptions o;
  o.env = lxt::journal_env(tmp.file("journal"), "LXTEST_INHERITED,LXTEST_DROPPED,LXTEST_EMPTY,LXTEST_NEW");
  o.unset("LXTEST_DROPPED");
  o.set("LXTEST_NEW", "new value");
  o.cwd = tmp.path();
  const std::vector<std::string> args{"two words", "", "line\nbreak", "end", "quote\"in", "back\\slash\\"};
  std::vector<std::string> argv{lxt::double_path("lxrecord")};
  argv.insert(argv.end(), args.begin(), args.end());
  EXPECT_EQ(lxt::run(argv, o).status, 0);
  EXPECT_EQ(lxt::run({lxt::double_path("lxrecord"), "second"}, o).status, 0);
  ::unsetenv("LXTEST_INHERITED");
  ::unsetenv("LXTEST_DROPPED");

  auto records = lxt::read_journal(tmp.file("journal"));
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

TEST(Harness, CopiesUnderAnotherNameTakeTheirOwnOptions) {
  lxt::TempDir tmp;
  const std::string seed = lxt::install_double("lxrecord", tmp.path(), "seedurls");
  lxt::RunOptions o;
  o.env = lxt::journal_env(tmp.file("journal"));
  o.set("LXT_EXIT", "1");
  o.set("LXT_SEEDURLS_EXIT", "5");
  o.set("LXT_SEEDURLS_PRINT", "urls");
  auto r = lxt::run({seed}, o);
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(r.out, "urls");
  EXPECT_EQ(lxt::run({lxt::double_path("lxrecord")}, o).status, 1);
  auto records = lxt::read_journal(tmp.file("journal"));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].program, "seedurls");
  EXPECT_EQ(records[1].program, "lxrecord");
}

TEST(Harness, StdinReadIsRecordedAndBackgroundProgramsAreWaitedFor) {
  lxt::TempDir tmp;
  lxt::RunOptions o;
  o.env = lxt::journal_env(tmp.file("journal"));
  o.set("LXT_STDIN", "read");
  o.set("LXT_EXIT", "3");
  o.stdin_data = std::string("a\0b\r\n", 5);
  EXPECT_EQ(lxt::run({lxt::double_path("lxrecord")}, o).status, 3);
  auto records = lxt::read_journal(tmp.file("journal"));
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

TEST(Harness, MalformedJournalIsReported) {
  EXPECT_NONFATAL_FAILURE(read_truncated_journal(), "malformed journal");
}

}  // namespace
