// The launcher and the daemon's stopper before a log held or not: holders
// of the log files stand for running processes, of this user or another.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <regex>
#include <span>
#include <string>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <ctime>

#include "tests/programs/process_fixture.h"
#include "tests/programs/program_test.h"

namespace {

// The fixtures and helpers of the program tests.
using namespace lxt;
using std::chrono::milliseconds;

// ---- both programs before a log held or not --------------------------------------

// Only a writer holding the log as a running process does makes that process
// running; a holder that cannot be told from one (on Windows a reader sharing
// nothing; a directory) starts and ends nothing. Both logs are one file here.
TEST_F(Process, OnlyAWriterOfTheLogMakesItsProcessRunning) {
  const std::vector<std::vector<std::string>> cases = {  // access, sharing, outcome on Windows, on POSIX
      {"write", "readwrite", "held", "held"}, {"write", "read", "held", "held"}, {"write", "none", "tell", "held"},
      {"read", "none", "tell", "free"},       {"read", "read", "free", "free"},  {"dir", "", "tell", "tell"}};
  lxt::install_double("lxrecord", dir_.file("home/bin"), "perl");
  const std::string path = settings(base()), log = gdir() + "/log.gatherer";
  for (const auto& c : cases) {
    SCOPED_TRACE(c[0] + " " + c[1]);
    const std::string outcome = c[lxt::is_wine() ? 2 : 3];
    for (const char* f : {"journal", "release", "holder.journal", "data/exportd.log"}) ::unlink(dir_.file(f).c_str());
    dir_.write(gdir() + "/Gatherer.pid", "4242\n");
    dir_.write("data/Exportd.pid", "4242");
    std::unique_ptr<lxt::Background> holder;
    lxt::RunOptions o;
    if (c[0] == "dir") {
      ::unlink(dir_.file(log).c_str());
      dir_.mkdir(log);
      dir_.mkdir("data/exportd.log");
    } else {
      dir_.write(log, "");
      ::link(dir_.file(log).c_str(), dir_.file("data/exportd.log").c_str());
      holder = hold(log, "data/Exportd.pid", o.set("LXT_HOLD_ACCESS", c[0]).set("LXT_HOLD_SHARE", c[1]), true);
    }
    const RunResult launched = run("LaunchCrawler", {path}), stopped = run("StopServer", {path, "NORMAL"});
    EXPECT_EQ(journal().size(), outcome == "free" ? 1u : 0u);
    EXPECT_EQ(dir_.exists(gdir() + "/Gatherer.pid"), outcome != "free");
    EXPECT_EQ(dir_.exists("data/Exportd.pid"), outcome != "held");
    EXPECT_EQ(stopped.status, outcome == "tell" ? 1 : 0);
    EXPECT_EQ(matches(launched.err, "is running"), outcome == "held") << launched.err;
    EXPECT_EQ(matches(launched.err + stopped.err, "whether \\.\\\\log\\.gatherer is held.*\n.*whether exportd\\.log is held"),
              outcome == "tell");
    if (holder) {
      EXPECT_EQ(holder->wait(milliseconds(outcome == "held" ? 30000 : 0)).has_value(), outcome == "held");
    }
    release();
  }
}

// Run by another user over its own tree, neither program takes a root-owned
// gatherer or daemon for gone, nor acts on one it cannot end or a directory
// it cannot search.
TEST_F(Process, AnotherUsersRunningProcessesAreLeftAsTheyAre) {
  if (lxt::is_wine() || ::geteuid() != 0) GTEST_SKIP() << "acts as another user of the native system";
  struct Case {
    std::string mode;  // "launch", or the stop's mode
    bool users_log, writable_pid_files;
    int dir_mode;  // of the data and gatherer directories
    std::string err;
  };
  const std::string not_examined = "Cannot tell which process holds exportd\\.log: .* cannot be examined \\(error information = 13\\)";
  const Case cases[] = {
      {"launch", false, true, 0755, "Cannot tell whether \\.\\\\log\\.gatherer is held open for writing: no lease"},
      {"launch", false, false, 0755, "Cannot tell whether \\.\\\\log\\.gatherer is held open for writing: no lease"},
      {"launch", true, true, 0755, "The gatherer of process ID [0-9]+ is running"},
      {"launch", true, false, 0755, "The gatherer of process ID [0-9]+ is running"},
      {"launch", true, true, 0666, "Cannot enter the gatherer directory .* \\(errno=13\\)\\.  No gatherer is started\\."},
      {"NORMAL", false, true, 0755, "Cannot tell whether exportd\\.log is held open for writing: no lease"},
      {"FORCED", false, false, 0755, "Cannot tell whether exportd\\.log is held open for writing: no lease"},
      {"FORCED", true, true, 0755, not_examined},
      {"FORCED", true, false, 0755, not_examined},
      {"NORMAL", true, true, 0333, "Cannot search the data directory for gathering\\* \\(errno=13\\)"},
      {"FORCED", true, true, 0666, "Cannot enter the data directory .* \\(errno=13\\)\\.  Nothing is stopped\\."}};
  lxt::install_double("lxrecord", dir_.file("home/bin"), "perl");
  dir_.write(gdir() + "/log.gatherer", "");
  ::link(dir_.file(gdir() + "/log.gatherer").c_str(), dir_.file("data/exportd.log").c_str());
  auto process = hold(gdir() + "/log.gatherer", "data/Exportd.pid");
  const std::string pid = dir_.read("data/Exportd.pid"), path = settings(base());
  dir_.write(gdir() + "/Gatherer.pid", pid);
  dir_.write("data/gathering.1", "part");
  // The tree is the user's own (a tree another user could change would be
  // refused before any process is looked at); the processes are root's.
  ::chmod(dir_.file("").c_str(), 0755);
  for (const std::string& d : {std::string("data"), gdir()}) ::chown(dir_.file(d).c_str(), 65534, 65534);
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    ::chown(dir_.file("data/exportd.log").c_str(), c.users_log ? 65534 : 0, 0);
    for (const char* f : {"data/Exportd.pid", "home/gatherers/g1/Gatherer.pid"}) {
      ::chmod(dir_.file(f).c_str(), c.writable_pid_files ? 0666 : 0444);
    }
    for (const std::string& d : {std::string("data"), gdir()}) ::chmod(dir_.file(d).c_str(), c.dir_mode);
    const bool launch = c.mode == "launch";
    std::vector<std::string> argv{"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                  lxt::program(launch ? "LaunchCrawler" : "StopServer"), path, c.mode};
    if (launch) argv.pop_back();
    lxt::RunOptions o;
    o.env = lxt::journal_env(dir_.file("journal"));
    const RunResult r = lxt::run(argv, o);
    EXPECT_EQ(r.status, launch ? 0 : 1);
    EXPECT_TRUE(matches(r.err, "^(LaunchCrawler|StopServer): " + kStamp + "ERROR: " + c.err)) << r.err;
    EXPECT_TRUE(journal().empty());
    EXPECT_EQ(dir_.read("data/Exportd.pid") + dir_.read(gdir() + "/Gatherer.pid") + dir_.read("data/gathering.1") +
                  dir_.read("data/exportd.log"), pid + pid + "part");
    EXPECT_EQ(process->wait(milliseconds(0)), std::nullopt);
  }
  for (const std::string& d : {std::string("data"), gdir()}) {
    ::chmod(dir_.file(d).c_str(), 0755);
    ::chown(dir_.file(d).c_str(), 0, 0);
  }
  release();
}

// With /proc mounted hidepid, another user finds none of root's processes
// there: a launcher at work (its log renamed) and a daemon holding its log
// are "cannot tell" to that user, never gone. All of them run in a process
// namespace of their own, whose /proc may be mounted so.
TEST_F(Process, ProcessesThatProcHidesAreNeverTakenForGone) {
  if (lxt::is_wine() || ::geteuid() != 0) GTEST_SKIP() << "acts as another user in a namespace of the native system";
  lxt::install_double("lxrecord", dir_.file("home/bin"), "perl");
  dir_.mkdir("daemon");
  lxt::install_double("lxrecord", dir_.file("daemon"), "exportd");
  dir_.write("data/exportd.log", "");
  ASSERT_EQ(::chown(dir_.file("data/exportd.log").c_str(), 65534, 65534), 0);  // a lease is theirs to take
  for (const std::string& d : {std::string(), std::string("data"), std::string("home"), std::string("home/gatherers"), gdir()}) {
    ::chmod(dir_.file(d).c_str(), 0755);
  }
  const std::string path = settings(base());
  const std::string as_other = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  lxt::RunOptions o;
  o.env = lxt::journal_env(journal_path());
  o.set("LXT_PERL_HOLD", "log.gatherer").set("LXT_PERL_UNTIL", dir_.file("release"));
  o.set("LXT_EXPORTD_HOLD", dir_.file("data/exportd.log")).set("LXT_EXPORTD_PIDFILE", dir_.file("data/Exportd.pid"));
  o.set("LXT_EXPORTD_UNTIL", dir_.file("release")).set("LXT_EXPORTD_JOURNAL", dir_.file("holder.journal"));
  o.cwd = dir_.path();
  const RunResult r = lxt::run(
      {"/usr/bin/unshare", "-m", "-p", "-f", "--mount-proc", "/bin/sh", "-c",
       "mount -o remount,hidepid=2 /proc || exit 97; \"$1\" \"$2\" & \"$3\" & i=0; "
       "until [ -s journal ] && [ -s data/Exportd.pid ]; do i=$((i+1)); [ $i -le 3000 ] || exit 98; sleep 0.02; done; "
       "mv \"$4/log.gatherer\" \"$4/log.gatherer.1\"; " + as_other + "\"$1\" \"$2\" 2>launch.err; " + as_other +
           "\"$5\" \"$2\" FORCED 2>stop.err; echo $? >stop.status; : >release; wait",
       "sh", lxt::program("LaunchCrawler"), path, dir_.file("daemon/exportd"), dir_.file(gdir()),
       lxt::program("StopServer")},
      o);
  if (r.status == 97) GTEST_SKIP() << "/proc cannot be mounted hidepid here: " << r.err;
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(matches(dir_.read("launch.err"), "ERROR: Cannot tell whether the gatherer of process ID [0-9]+ is at "
                                               "work here: it runs, but its /proc entry cannot be read\\.  No "
                                               "gatherer is started\\.\n$"))
      << dir_.read("launch.err");
  EXPECT_EQ(journal().size(), 1u) << "no second gatherer";
  EXPECT_EQ(dir_.read("stop.status"), "1\n");
  EXPECT_TRUE(matches(dir_.read("stop.err"), "ERROR: Cannot tell which process holds exportd\\.log: Exportd\\.pid "
                                             "names process [0-9]+, which cannot be examined \\(error information = "
                                             "13\\)\\.  Nothing is stopped\\.\n$"))
      << dir_.read("stop.err");
  EXPECT_TRUE(dir_.exists("data/Exportd.pid"));
}

// A directory that exists but cannot be entered (here a file) may hold a
// running process: an error line, nothing started or stopped, nothing written
// where the program was started.
TEST_F(Process, ADirectoryThatCannotBeEnteredIsAnError) {
  if (lxt::is_wine()) GTEST_SKIP() << "a file as a directory gives Windows' own error";
  lxt::install_double("lxrecord", dir_.file("home/bin"), "perl");
  ::rmdir(dir_.file(gdir()).c_str());
  dir_.write(gdir(), "");
  const std::string path = settings(base() + "GATHERER_DATA=" + dir_.host(gdir()) + "\n");
  const RunResult launched = run("LaunchCrawler", {path}), stopped = run("StopServer", {path, "FORCED"});
  EXPECT_EQ(launched.status, 0);
  EXPECT_EQ(stopped.status, 1);
  for (const std::string& what : {std::string("gatherer directory"), std::string("data directory")}) {
    EXPECT_TRUE(matches(launched.err + stopped.err, "ERROR: Cannot enter the " + what + " .*g1 \\(errno=20\\)\\.  "))
        << what;
  }
  EXPECT_TRUE(journal().empty());
  EXPECT_FALSE(dir_.exists("Gatherer.pid"));
}

}  // namespace
