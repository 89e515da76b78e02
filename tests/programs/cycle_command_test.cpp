// The scheduler's cycle command, run as a black box: lorvex-cycle over the
// real launcher, whose Perl is the recording double (it writes the cycle's
// output).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <csignal>

#include <chrono>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "tests/programs/gatherers_fixture.h"
#include "tests/programs/program_test.h"

namespace {

using std::chrono::milliseconds;

using lxt::matches;

// A message page as the system writes one; the identification comments
// come after the number's comment and must not be taken for it.
std::string page(const std::string& number, const std::string& text) {
  return "Content-Type: text/html\n\n<!-- " + number +
         " 8765 -->\n<!-- Lorvex: the gathering administration. -->\n<!-- Rights. -->\n\n"
         "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML//EN\">\n<FONT SIZE=\"4\"><DL><DD><TABLE><TR>\n"
         "<TD ALIGN=\"left\">" + number + ":</TD>\n<TD ALIGN=\"left\">" + text +
         "</TD>\n</TR></TABLE></DL></FONT>\n</BODY></HTML>\n";
}

using lxt::Gatherers;
using lxt::last_cycle_record;
using lxt::record;

// ---- lorvex-cycle ----------------------------------------------------------------

// A launcher that started a gatherer whose cycle left no record is no clean
// cycle, whatever its output says; the record takes the place of whatever
// stands in last-cycle's, never written through a link, and a directory
// there keeps it out.
TEST_F(Gatherers, TheCycleCommandJudgesByRecordsNeverByTheCyclesWords) {
  dir_.write("outside", "not the outcome\n");
  ASSERT_EQ(::mkfifo(dir_.file("fifo").c_str(), 0644), 0);
  ASSERT_EQ(::symlink(dir_.file("fifo").c_str(), dir_.file(gdir("last-cycle")).c_str()), 0);
  ASSERT_EQ(::symlink(dir_.file("outside").c_str(), dir_.file(gdir("last-cycle.new")).c_str()), 0);
  lxt::RunOptions o;
  // A page of success, and a launcher's line as it would say one was at work.
  o.set("LXT_PERL_PRINT", page("LXCM601-I", "The search service was told.") + "LaunchCrawler: x is running\n");
  o.cwd = dir_.path();
  o.set("LORVEX_EVENTLOG", dir_.file("events")).set("LORVEX_GATHERERS", dir_.file("layout"));
  const lxt::RunResult r =
      run_program("lorvex-cycle", {dir_.file("layout/g1.ini")}, o, "LORVEX_CYCLE_ID,LORVEX_LAUNCH_FD");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_TRUE(matches(r.out, "LXCM601-I")) << "passed on unchanged";
  const std::string what = "cyclerun left no record of this cycle \\(there is none\\)";
  EXPECT_TRUE(matches(dir_.read("events"), "^lorvex-cycle\tERROR\t0x00000001\tg1: status 1: " + what + "\n$"))
      << dir_.read("events");
  EXPECT_TRUE(matches(dir_.read(gdir("last-cycle")), "\nstatus=1\nlevel=error\nwhat=" + what + "\n"));
  EXPECT_EQ(dir_.read("outside"), "not the outcome\n");
  struct stat fifo {};
  EXPECT_TRUE(::stat(dir_.file("fifo").c_str(), &fifo) == 0 && S_ISFIFO(fifo.st_mode));
  EXPECT_FALSE(dir_.exists(gdir("last-cycle.new")));
  // Every program of the cycle got its id; the record of its beginning has it.
  const std::vector<lxt::Record> started = journal();
  ASSERT_EQ(started.size(), 1u);
  const std::string began = dir_.read(gdir("cycle-began"));
  EXPECT_TRUE(matches(began, "\ncycle=[0-9a-f]{32}\n")) << began;
  ASSERT_TRUE(started[0].env.at("LORVEX_CYCLE_ID").has_value());
  EXPECT_TRUE(matches(began, "\ncycle=" + *started[0].env.at("LORVEX_CYCLE_ID") + "\n")) << began;
  EXPECT_FALSE(started[0].env.at("LORVEX_LAUNCH_FD").has_value()) << "the launcher's channel is its own";
  ::unlink(dir_.file(gdir("last-cycle")).c_str());
  dir_.mkdir(gdir("last-cycle"));
  const lxt::RunResult kept_out = run("lorvex-cycle", {dir_.file("layout/g1.ini")}, o);
  EXPECT_EQ(kept_out.status, 1);
  EXPECT_TRUE(matches(kept_out.err, "Cannot keep the outcome in [^\n]*last-cycle \\(errno=21\\)\\.")) << kept_out.err;
}

TEST_F(Gatherers, TheCycleCommandSaysTryLaterWhileAGathererIsAtWork) {
  const std::string failed = record("lorvex-cycle", "began=20261209 18:00:00\nbegan-at=1765300000\nended=20261209 "
                                    "18:10:00\nstatus=1\nlevel=error\nwhat=x\n");
  dir_.write(gdir("last-cycle"), failed);
  auto holder = hold(gdir("log.gatherer"), gdir("Gatherer.pid"));
  // Whether the pid file names the gatherer or holds no number.
  for (const auto& [says, what] :
       {std::pair<std::string, std::string>{"The gatherer of process ID [0-9]+ is running\\.",
                                            "a gatherer is already at work \\(process [0-9]+\\)"},
        {"A gatherer is running, but Gatherer\\.pid holds no process ID\\.", "a gatherer is already at work"}}) {
    ::unlink(dir_.file("events").c_str());
    const lxt::RunResult r = run("lorvex-cycle", {dir_.file("layout/g1.ini")});
    EXPECT_EQ(r.status, 75);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(matches(r.err, "^LaunchCrawler: [^\n]*ERROR: " + says)) << r.err;
    EXPECT_TRUE(journal().empty()) << "no second cycle";
    EXPECT_TRUE(matches(dir_.read("events"), "^lorvex-cycle\tWARNING\t0x0000004B\tg1: status 75: " + what + "\n$"))
        << dir_.read("events");
    EXPECT_EQ(dir_.read(gdir("last-cycle")), failed) << "the last cycle's failure stays";
    EXPECT_FALSE(dir_.exists(gdir("cycle-began"))) << "no cycle began";
    dir_.write(gdir("Gatherer.pid"), "x\n");
  }
  dir_.write("release", "");
  ASSERT_TRUE(holder->wait(milliseconds(30000)).has_value());
  // A launcher that refuses ran no cycle: its own line says why.
  ::unlink(dir_.file(gdir("Gatherer.pid")).c_str());
  ASSERT_EQ(::mkfifo(dir_.file(gdir("Gatherer.pid")).c_str(), 0644), 0);
  const lxt::RunResult refused = run("lorvex-cycle", {dir_.file("layout/g1.ini")});
  EXPECT_EQ(refused.status, 2);
  EXPECT_TRUE(matches(refused.err, "^LaunchCrawler: [^\n]*ERROR: Cannot open Gatherer\\.pid \\(errno=13\\)")) << refused.err;
  EXPECT_TRUE(matches(dir_.read(gdir("last-cycle")), "\nstatus=2\nlevel=error\nwhat=the launcher refused to start a "
                                                     "gatherer \\(its error line says why\\)\n"))
      << dir_.read(gdir("last-cycle"));
}

// A cycle whose outcome would have no place is not run: the launcher would
// run it in the current directory. The system log says why.
TEST_F(Gatherers, TheCycleCommandRunsNoCycleWithoutAGathererDirectory) {
  const std::string base = "KESTREL_HOME=" + dir_.file("home") + "\nGATHERER_DATA=" + dir_.file("data") + "\n";
  dir_.write("home/gatherers/file", "");
  struct Case {
    std::string name;
    std::string settings;  // empty: no settings file
    std::string error;     // a pattern of the error line
    std::string why;       // the logged line after "status 2: "
  };
  const Case cases[] = {
      {"no settings file", "", "Cannot open [^\n]*none\\.ini \\(errno=2\\)\\.  No cycle is run\\.",
       "the settings file cannot be opened \\(errno=2\\)"},
      {"no gatherer directory", base + "GATHERER_NAME=gone\n",
       "Cannot find the gatherer directory [^\n]*/home/gatherers/gone \\(errno=2\\)\\.  No cycle is run\\.",
       "the gatherer directory .*/gone cannot be found \\(errno=2\\)"},
      {"a file in its place", base + "GATHERER_NAME=file\n", "/home/gatherers/file is not a directory\\.",
       "the gatherer directory .*/file is not a directory"},
      {"half a character", base + "GATHERER_NAME=g1\x83\n", "is invalid\\.  \\(GATHERER_NAME ends in half",
       "GATHERER_NAME ends in half a double-byte character"},
      {"saved as Unicode", lxt::saved_as_unicode("GATHERER_NAME=g1\n" + base)[0].first,
       "is invalid\\.  \\(It is saved as UTF-8 with a byte-order mark; save it as ANSI \\(Shift_JIS\\)\\.\\)  No cycle",
       "the settings file is saved as UTF-8 with a byte-order mark; save it as ANSI \\(Shift_JIS\\)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ::unlink(dir_.file("events").c_str());
    if (!c.settings.empty()) dir_.write("none.ini", c.settings);
    const lxt::RunResult r = run("lorvex-cycle", {dir_.file("none.ini")});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(matches(r.err, "^lorvex-cycle: [^\n]*" + c.error)) << r.err;
    EXPECT_TRUE(matches(dir_.read("events"), "\tERROR\t0x00000002\t.*: status 2: " + c.why + "\n$"))
        << dir_.read("events");
    EXPECT_TRUE(journal().empty()) << "no cycle";
    EXPECT_FALSE(dir_.exists("log.gatherer")) << "nothing in the current directory";
  }
}

// The other lines of a settings file are the environment of the gatherer's
// processes, never the commands' own: they cannot send the system log's line
// elsewhere nor show another installation's cycle lock.
TEST_F(Gatherers, ASettingsFileSetsNeitherCommandsOwnEnvironment) {
  dir_.mkdir("other");
  dir_.write("other/.lxQ71K58R03lock", "");
  dir_.write("other.reg", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMORA\\Moxa3R\\0201/A\\PathName]\n\"Path00\"=\"" +
                              dir_.file("other") + "\"\n");
  dir_.write("layout/g1.ini", dir_.read("layout/g1.ini") + "LORVEX_EVENTLOG=" + dir_.file("elsewhere") +
                                  "\nLORVEX_REGISTRY=" + dir_.file("other.reg") + "\n");
  EXPECT_EQ(run("lorvex-cycle", {dir_.file("layout/g1.ini")}).status, 1);
  EXPECT_FALSE(dir_.exists("elsewhere"));
  EXPECT_TRUE(matches(dir_.read("events"), "\tg1: status 1: cyclerun left no record"));
  const lxt::RunResult r = run("lorvex-status", {"--brief"});
  EXPECT_TRUE(matches(r.out, "; lock none;")) << r.out;
}

}  // namespace
