// The export daemon's starter as a black box, with a recording double as
// exportd.
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

// ---- LaunchServer ---------------------------------------------------------------

class Server : public Process {
 protected:
  void SetUp() override {
    Process::SetUp();
    // exportd is found through the library directory the starter puts first.
    lxt::install_double("lxrecord", dir_.file("home/lib/gatherer"), "exportd");
  }
  RunResult start(const std::string& settings_path, lxt::RunOptions options = {}) const {
    return run("LaunchServer", {settings_path}, options, "PATH,KESTREL_HOME,GATHERER_NAME,GATHERER_DATA,GATHERER_PORT,OTHER");
  }
  std::string prefix() const { return "^LaunchServer: " + kStamp; }
};

TEST_F(Server, UnusableCommandLineOrSettings) {
  struct Case {
    std::vector<std::string> args;
    std::optional<std::string> settings;
    int status;
    std::string err;  // a pattern
  };
  const std::string path = dir_.host("settings.ini");
  std::vector<Case> cases = {
      {{}, "", 1, prefix() + "Usage: LaunchServer\\.exe ini_file\\.\n$"},
      {{path, "x"}, "", 1, prefix() + "Usage: LaunchServer\\.exe ini_file\\.\n$"},
      {{path}, std::nullopt, status_of(-1), "^$"},
      {{path}, base() + " no value=\n", 1, prefix() + "ERROR: " + literal(path) + " is invalid\\.\n$"},
      {{path}, "KESTREL_HOME=h\nGATHERER_DATA=d\n", 1, "^LaunchServer\\.exe: " + kStamp + "ERROR: " + literal(path) + " is invalid\\.\n$"},
  };
  for (const auto& [text, encoding] : lxt::saved_as_unicode("OTHER=x\n" + base())) {
    cases.push_back({{path}, text, 1, prefix() + "ERROR: " + literal(path) + " is invalid\\.  " + unicode_refusal(encoding) + "\n$"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.settings.value_or("<no file>"));
    if (!c.settings) ::unlink(dir_.file("settings.ini").c_str());
    else dir_.write("settings.ini", *c.settings);
    lxt::RunOptions o;
    o.set("LORVEX_EVENTLOG", dir_.file("events"));
    const RunResult used = run("LaunchServer", c.args, o);
    EXPECT_EQ(used.status, c.status);
    EXPECT_TRUE(matches(used.err, c.err)) << used.err;
    EXPECT_EQ(used.out, "");
  }
  EXPECT_TRUE(journal().empty());
}

TEST_F(Server, AnUnreadableSettingsFileIsOneEventLogEntry) {
  const std::string path = dir_.host("no-such.ini");
  lxt::RunOptions o;
  o.set("LORVEX_EVENTLOG", dir_.file("events"));
  const RunResult r = start(path, o);
  EXPECT_EQ(r.status, status_of(-1));
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "");
  if (lxt::is_wine()) GTEST_SKIP() << "Wine's event log keeps nothing a test can read";
  const std::string entry = "Moxa3R\tERROR\t0xC0000005\t" + path + "\t2\n";
  EXPECT_EQ(dir_.read("events"), entry);
  // Where no system logger would receive it, the entry is not lost.
  if (::access("/dev/log", F_OK) != 0) {
    EXPECT_EQ(start(path, lxt::RunOptions().unset("LORVEX_EVENTLOG")).err, entry);
  }
}

TEST_F(Server, ADaemonThatEndsWithinTheSecondGivesItsStatus) {
  const struct {
    const char* exit;
    int status;
  } all_cases[] = {{"3", 3}, {"0", 0}, {"259", 0}};
  // A POSIX process cannot end with 259 (the status keeps eight bits).
  const auto cases = std::span(all_cases).first(lxt::is_wine() ? 3 : 2);
  // A data directory that ends in a backslash stays one argument.
  const std::string data = dir_.host("data") + "\\";
  const std::string path = settings(base() + "OTHER=x=y\nGATHERER_DATA=" + data + "\n");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.exit);
    ::unlink(dir_.file("journal").c_str());
    lxt::RunOptions o;
    o.set("LXT_EXPORTD_EXIT", c.exit);
    const auto began = std::chrono::steady_clock::now();
    const RunResult r = start(path, o);
    const auto took = std::chrono::steady_clock::now() - began;
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, "");
    if (!lxt::is_wine()) {
      EXPECT_LT(took, milliseconds(900)) << "returns when the daemon ends, not after the second";
    }
    const std::vector<Record> records = journal();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].args, (std::vector<std::string>{"-d", data, "8500"}));
    EXPECT_EQ(records[0].env.at("PATH").value_or("").substr(0, entry("lib/gatherer").size() + 1),
              entry("lib/gatherer") + path_sep());
    EXPECT_EQ(records[0].env.at("OTHER"), "x=y");
    EXPECT_EQ(records[0].env.at("KESTREL_HOME"), home());
    EXPECT_EQ(records[0].env.at("GATHERER_NAME"), std::nullopt);
    EXPECT_EQ(records[0].env.at("GATHERER_DATA"), std::nullopt);
  }
}

TEST_F(Server, ADaemonNowhereToBeFoundIsReportedOnTheConsoleAndInItsLog) {
  ::unlink(dir_.file("home/lib/gatherer/" + lxt::exe_name("exportd")).c_str());
  dir_.mkdir("data dir");
  dir_.write("data dir/exportd.log", "earlier line\n");
  const std::string data = dir_.host("data dir");
  const std::string line = "exportd -d \"" + data + "\" 8500";
  const std::string message = "Error occured in CreateProcess function \\(error information = 2\\)\\.\n cmd = " +
                              literal(line) + "\n$";
  RunResult r = start(settings(base() + "GATHERER_DATA=" + data + "\n"));
  EXPECT_EQ(r.status, status_of(-2));
  EXPECT_TRUE(matches(r.err, prefix() + message)) << r.err;
  const std::string log = lxt::lf(dir_.read("data dir/exportd.log"));
  EXPECT_TRUE(matches(log, "^earlier line\nLaunchServer: " + kStamp + message)) << log;

  // Without its data directory the failure reaches the console alone.
  r = start(settings(base() + "GATHERER_DATA=" + dir_.host("gone") + "\n"));
  EXPECT_EQ(r.status, status_of(-2));
  EXPECT_TRUE(matches(r.err, "error information = 2")) << r.err;
  EXPECT_FALSE(dir_.exists("gone"));
}

// A daemon that opens a FIFO as its log would wait for a reader for ever and
// count as started: such a log is refused with nothing started. The null
// device is a log.
TEST_F(Server, ALogNoDaemonCouldHoldStartsNothing) {
  if (lxt::is_wine()) GTEST_SKIP() << "no FIFOs or device links on Windows";
  struct Row {
    std::string kind;
    bool starts;
  };
  const Row rows[] = {{"fifo", false}, {"directory", false}, {"null", true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.kind);
    ::unlink(dir_.file("journal").c_str());
    ::unlink(dir_.file("data/exportd.log").c_str());
    ::rmdir(dir_.file("data/exportd.log").c_str());
    if (row.kind == "fifo") ::mkfifo(dir_.file("data/exportd.log").c_str(), 0644);
    if (row.kind == "directory") dir_.mkdir("data/exportd.log");
    if (row.kind == "null") ::symlink("/dev/null", dir_.file("data/exportd.log").c_str());
    const RunResult r = start(settings(base()), lxt::RunOptions().set("LXT_EXPORTD_EXIT", "0"));
    EXPECT_EQ(r.status, row.starts ? 0 : status_of(-2));
    EXPECT_EQ(journal().size(), row.starts ? 1u : 0u);
    if (!row.starts) {
      EXPECT_TRUE(matches(r.err, prefix() + "ERROR: .*exportd\\.log is neither a plain file nor a device: "
                                            "exportd could not hold it as its log\\.  exportd is not started\\.\n$"))
          << r.err;
    }
  }
}

TEST_F(Server, ARunningDaemonIsLeftRunningDetachedAndStopServerEndsIt) {
  lxt::RunOptions o;
  o.set("LXT_EXPORTD_HOLD", dir_.host("data/exportd.log"));
  o.set("LXT_EXPORTD_PIDFILE", dir_.host("data/Exportd.pid"));
  o.set("LXT_EXPORTD_UNTIL", dir_.host("release"));
  const std::string path = settings(base());
  const auto began = std::chrono::steady_clock::now();
  const RunResult r = start(path, o);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_GE(std::chrono::steady_clock::now() - began, milliseconds(990));
  ASSERT_TRUE(lxt::wait_for_file(dir_.file("data/Exportd.pid")));
  const long daemon = std::stol(dir_.read("data/Exportd.pid"));
  if (!lxt::is_wine()) {
    EXPECT_TRUE(process_alive(daemon)) << "outlives its starter";
    EXPECT_EQ(::getpgid(static_cast<pid_t>(daemon)), daemon) << "a process group of its own";
  }

  // A transfer in progress keeps a NORMAL stop out; so does a directory of that name.
  dir_.write("data/gathering.42", "part");
  dir_.mkdir("data/gathering.dir");
  for (const char* mode : {"NORMAL", "forced", "other"}) {
    const RunResult normal = run("StopServer", {path, mode});
    EXPECT_EQ(normal.status, 1) << mode;
    EXPECT_EQ(normal.err, "");
  }
  EXPECT_TRUE(dir_.exists("data/Exportd.pid"));
  EXPECT_TRUE(dir_.exists("data/gathering.42"));
  if (!lxt::is_wine()) {
    EXPECT_TRUE(process_alive(daemon));
  }

  // A read-only pid file goes with the daemon all the same, and so does a
  // read-only work file.
  ASSERT_EQ(::chmod(dir_.file("data/Exportd.pid").c_str(), 0444), 0);
  ASSERT_EQ(::chmod(dir_.file("data/gathering.42").c_str(), 0444), 0);
  const RunResult forced = run("StopServer", {path, "FORCED"});
  EXPECT_EQ(forced.status, 0);
  EXPECT_EQ(forced.err, "");
  EXPECT_FALSE(dir_.exists("data/Exportd.pid"));
  EXPECT_FALSE(dir_.exists("data/gathering.42"));
  EXPECT_TRUE(dir_.exists("data/gathering.dir")) << "directories are no work files";
  EXPECT_TRUE(matches(last_line(dir_.read("data/exportd.log")),
                      "^StopServer: " + kStamp + "Gather daemon has stopped by request\\.$"));
  // Ended, the daemon holds its log no more: a later stop finds nothing running.
  EXPECT_TRUE(lxt::wait_until(
      [&] {
        dir_.write("data/Exportd.pid", "0");
        return run("StopServer", {path, "FORCED"}).status == 0 && dir_.exists("data/Exportd.pid");
      },
      milliseconds(30000)));
  release();
}

TEST_F(Server, AnInterruptToTheStartersGroupDoesNotReachTheDaemon) {
  if (lxt::is_wine()) GTEST_SKIP() << "console groups are Wine's own; a POSIX signal reaches Wine's processes";
  lxt::RunOptions o;
  o.set("LXT_EXPORTD_PIDFILE", dir_.host("data/Exportd.pid"));
  o.set("LXT_EXPORTD_UNTIL", dir_.host("release"));
  o.cwd = dir_.path();
  lxt::Background starter({lxt::program("LaunchServer"), settings(base())}, o);
  ASSERT_TRUE(lxt::wait_for_file(dir_.file("data/Exportd.pid")));
  const long daemon = std::stol(dir_.read("data/Exportd.pid"));
  ASSERT_EQ(::kill(-static_cast<pid_t>(starter.pid()), SIGINT), 0);
  EXPECT_EQ(starter.wait(milliseconds(30000)), 128 + SIGINT);
  EXPECT_TRUE(process_alive(daemon));
  release();
  EXPECT_TRUE(lxt::wait_until([&] { return !process_alive(daemon); }, milliseconds(30000)));
}

// The export daemon stand-in of the demo (a Perl script: POSIX only), started
// and stopped by the real programs.
TEST_F(Process, TheDemosExportDaemonStartsAndStops) {
  if (lxt::is_wine()) GTEST_SKIP() << "the stand-in is a Perl script run natively";
  ::symlink((lxt::bin_dir() + "/../kestrel/bin/exportd").c_str(), dir_.file("home/lib/gatherer/exportd").c_str());
  lxt::Peer taken(lxt::Peer::answering("0"));
  ASSERT_NE(taken.port(), 0);
  struct Case {
    std::string data;
    int port;
    int status;
  };
  const Case cases[] = {{dir_.host("gone"), taken.port(), 2}, {dir_.host("data"), taken.port(), 3}};
  for (const Case& c : cases) {
    const RunResult r = run("LaunchServer", {settings(base() + "GATHERER_DATA=" + c.data + "\nGATHERER_PORT=" +
                                                      std::to_string(c.port) + "\n")});
    EXPECT_EQ(r.status, c.status) << c.data;
  }
  EXPECT_FALSE(dir_.exists("data/Exportd.pid"));

  // A transfer of a run that was killed is no work in progress of the next.
  dir_.write("data/gathering.3", "");
  const std::string path = settings(base() + "GATHERER_PORT=" + std::to_string(lxt::Peer::closed_port()) + "\n");
  EXPECT_EQ(run("LaunchServer", {path}).status, 0);
  ASSERT_TRUE(lxt::wait_for_file(dir_.file("data/Exportd.pid")));
  const long daemon = std::stol(dir_.read("data/Exportd.pid"));
  EXPECT_TRUE(process_alive(daemon));
  EXPECT_FALSE(dir_.exists("data/gathering.3"));
  // A second daemon for the same directory stays out and takes nothing over.
  EXPECT_EQ(run("LaunchServer", {settings(base() + "GATHERER_PORT=1\n")}).status, 6);
  EXPECT_EQ(std::stol(dir_.read("data/Exportd.pid")), daemon);
  EXPECT_EQ(run("StopServer", {path, "NORMAL"}).status, 0);
  EXPECT_TRUE(lxt::wait_until([&] { return !process_alive(daemon); }, milliseconds(30000)));
  EXPECT_FALSE(dir_.exists("data/Exportd.pid"));
}

}  // namespace
