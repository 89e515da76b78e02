// The export daemon's stopper as a black box: the daemon is a recording
// double, or a holder of its log.
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

// ---- StopServer ----------------------------------------------------------------

class Stop : public Process {
 protected:
  RunResult stop(const std::vector<std::string>& args) const { return run("StopServer", args); }
  std::string prefix() const { return "^StopServer: " + kStamp; }
};

TEST_F(Stop, UnusableCommandLineOrSettings) {
  const std::string path = dir_.host("settings.ini");
  struct Case {
    std::vector<std::string> args;
    std::optional<std::string> settings;
    int status;
    std::string err;
  };
  std::vector<Case> cases = {
      {{path}, "", status_of(-1), "Usage: StopServer\\.exe ini_file mode\\(NORMAL\\|FORCED\\)\\.\n$"},
      {{path, "NORMAL", "x"}, "", status_of(-1), "Usage: StopServer\\.exe ini_file mode\\(NORMAL\\|FORCED\\)\\.\n$"},
      {{path, "FORCED"}, std::nullopt, status_of(-2), "ERROR: Cannot open " + literal(path) + "\\.\n$"},
      {{path, "FORCED"}, base() + "=\n", status_of(-3), "ERROR: Invalid file " + literal(path) + "\\.\n$"},
      {{path, "FORCED"}, "KESTREL_HOME=h\nGATHERER_NAME=g\n", status_of(-3), "ERROR: Invalid file " + literal(path) + "\\.\n$"},
  };
  for (const auto& [text, encoding] : lxt::saved_as_unicode("OTHER=x\n" + base())) {
    cases.push_back({{path, "FORCED"}, text, status_of(-3),
                     "ERROR: Invalid file " + literal(path) + "\\.  " + unicode_refusal(encoding) + "\n$"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.settings.value_or("<no file>"));
    if (!c.settings) ::unlink(dir_.file("settings.ini").c_str());
    else dir_.write("settings.ini", *c.settings);
    const RunResult r = stop(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_TRUE(matches(r.err, prefix() + c.err)) << r.err;
    EXPECT_EQ(r.out, "");
  }
}

TEST_F(Stop, WithoutARunningDaemonNothingChanges) {
  enum Setup { kNoDataDir, kNoPidFile, kNoLog, kFreeLog };
  for (Setup setup : {kNoDataDir, kNoPidFile, kNoLog, kFreeLog}) {
    for (const char* mode : {"NORMAL", "FORCED"}) {
      SCOPED_TRACE(std::to_string(setup) + mode);
      for (const char* f : {"data/Exportd.pid", "data/exportd.log", "data/gathering.1"}) {
        ::unlink(dir_.file(f).c_str());
      }
      std::string data = dir_.host("data");
      if (setup == kNoDataDir) data = dir_.host("gone");
      if (setup != kNoPidFile) dir_.write("data/Exportd.pid", "4242");
      if (setup == kFreeLog) dir_.write("data/exportd.log", "line\n");
      dir_.write("data/gathering.1", "");
      const RunResult r = stop({settings(base() + "GATHERER_DATA=" + data + "\n"), mode});
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.err, "");
      EXPECT_TRUE(dir_.exists("data/gathering.1"));
      EXPECT_EQ(dir_.exists("data/Exportd.pid"), setup != kNoPidFile);
      if (setup == kFreeLog) {
        EXPECT_EQ(dir_.read("data/exportd.log"), "line\n");
      }
    }
  }
}

enum class Names { kDaemon, kOther, kDead, kText, kLinkedPidFile };
enum class Log { kPlain, kNullLink, kNullNode, kLinkToHeld, kFifo };

// Who the pid file names, how the log stands, and what a stop must do then.
struct HolderRow {
  Names names;
  std::string text;  // kText: the pid file's bytes
  bool backdated;    // the pid file last written before the daemon started
  Log log;
  bool ended;  // the daemon ended, exit 0, the pid file and work files gone
  std::string err;
  const char* runs_as = "exportd";  // the device holder's program name
};

std::vector<HolderRow> holder_rows() {
  const std::string unknown = "ERROR: Cannot tell which process holds exportd\\.log: Exportd\\.pid ";
  const std::string not_daemon = unknown + "names process [0-9]+, which is not the daemon: it ";
  const std::string no_number = unknown + "holds no process ID\\.  Nothing is stopped\\.\n$";
  const std::string linked_log =
      "ERROR: Cannot tell whether exportd\\.log is held open for writing: it is a symbolic link\\.  Nothing is "
      "stopped\\.\n$";
  return {
      {Names::kDaemon, "", false, Log::kPlain, true, ""},
      {Names::kOther, "", false, Log::kPlain, false,
       not_daemon + "does not (hold the log open for writing|run the daemon's program)"},
      {Names::kDead, "", false, Log::kPlain, false, unknown + "names process [0-9]+, which is not running\\."},
      {Names::kDaemon, "", true, Log::kPlain, false, not_daemon + "started after the pid file was written"},
      {Names::kText, "0", false, Log::kPlain, false, no_number},
      {Names::kText, "-1", false, Log::kPlain, false, no_number},
      {Names::kText, "1", false, Log::kPlain, false, no_number},
      {Names::kText, "", false, Log::kPlain, false, no_number},
      {Names::kText, "junk", false, Log::kPlain, false, no_number},
      {Names::kText, "99999999999", false, Log::kPlain, false, no_number},
      {Names::kText, "2147483647", false, Log::kPlain, false, unknown + "names process 2147483647, which is not running"},
      {Names::kLinkedPidFile, "", false, Log::kPlain, false,
       "ERROR: Exportd\\.pid is a symbolic link, which is not read\\.  The daemon is left running\\.\n$"},
      // Many processes hold the null device, any file may be another's.
      {Names::kDaemon, "", false, Log::kNullLink, false, linked_log},
      {Names::kOther, "", false, Log::kLinkToHeld, false, linked_log},
      {Names::kDaemon, "", false, Log::kNullNode, true, ""},
      {Names::kDaemon, "", false, Log::kNullNode, false,
       not_daemon + "does not hold the log open for writing under the daemon's name \\(the log is a device\\)", "sleep"},
      {Names::kDaemon, "", false, Log::kFifo, false,
       "ERROR: Cannot tell whether exportd\\.log is held open for writing: it is a FIFO"},
  };
}

class WhoHolds : public Stop {
 protected:
  // The daemon as the row has it hold its log; null when the row cannot be
  // made here (only root makes a device node).
  std::unique_ptr<lxt::Background> start_daemon(const HolderRow& row) const {
    for (const char* f : {"release", "holder.journal", "data/exportd.log", "data/Exportd.pid", "other.pid", "real.pid"}) {
      ::unlink(dir_.file(f).c_str());
    }
    if (row.log == Log::kNullNode &&
        ::mknod(dir_.file("data/exportd.log").c_str(), S_IFCHR | 0666, ::makedev(1, 3)) != 0) {
      return nullptr;
    }
    dir_.write("data/gathering.tmp", "");
    if (row.log != Log::kNullLink && row.log != Log::kNullNode) {
      auto daemon = hold(row.log == Log::kPlain ? "data/exportd.log" : "data/other.log", "data/Exportd.pid", {}, true);
      if (row.log == Log::kFifo) {
        EXPECT_EQ(::mkfifo(dir_.file("data/exportd.log").c_str(), 0644), 0);
      }
      if (row.log == Log::kPlain) dir_.write("data/exportd.log", "line\n");
      return daemon;
    }
    // The double opens plain files only; the shell holds the device as the daemon would.
    if (row.log == Log::kNullLink) {
      EXPECT_EQ(::symlink("/dev/null", dir_.file("data/exportd.log").c_str()), 0);
    }
    lxt::RunOptions here;
    here.cwd = dir_.path();
    auto daemon = std::make_unique<lxt::Background>(
        std::vector<std::string>{"/bin/sh", "-c",
                                 "exec 3>>data/exportd.log; echo $$ >Exportd.tmp; mv Exportd.tmp data/Exportd.pid; "
                                 "exec bin/" + std::string(row.runs_as) + " 600"},
        here);
    EXPECT_TRUE(lxt::wait_for_file(dir_.file("data/Exportd.pid")));
    return daemon;
  }

  // The pid file as the row has it name a process; the other process it
  // names, when one runs.
  std::unique_ptr<lxt::Background> name_in_pid_file(const HolderRow& row) const {
    std::unique_ptr<lxt::Background> other;
    if (row.names == Names::kOther) {
      // It holds a file of its own for writing, which a linked log may lead to.
      other = std::make_unique<lxt::Background>(std::vector<std::string>{lxt::double_path("lxrecord")},
                                                lxt::RunOptions().set("LXT_PIDFILE", dir_.host("other.pid"))
                                                    .set("LXT_HOLD", dir_.host("other.held"))
                                                    .set("LXT_UNTIL", dir_.host("release")));
      EXPECT_TRUE(lxt::wait_for_file(dir_.file("other.pid")));
      dir_.write("data/Exportd.pid", dir_.read("other.pid"));
      if (row.log == Log::kLinkToHeld) {
        EXPECT_EQ(::symlink("../other.held", dir_.file("data/exportd.log").c_str()), 0);
      }
    } else if (row.names == Names::kDead) {
      lxt::run({lxt::double_path("lxrecord")}, lxt::RunOptions().set("LXT_PIDFILE", dir_.host("other.pid")));
      dir_.write("data/Exportd.pid", dir_.read("other.pid"));
    } else if (row.names == Names::kText) {
      dir_.write("data/Exportd.pid", row.text);
    } else if (row.names == Names::kLinkedPidFile) {
      EXPECT_EQ(::rename(dir_.file("data/Exportd.pid").c_str(), dir_.file("real.pid").c_str()), 0);
      EXPECT_EQ(::symlink("../real.pid", dir_.file("data/Exportd.pid").c_str()), 0);
    }
    if (row.backdated) {
      const timespec an_hour_ago[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
      EXPECT_EQ(::utimensat(AT_FDCWD, dir_.file("data/Exportd.pid").c_str(), an_hour_ago, 0), 0);
    }
    return other;
  }
};

// Only a process seen to be the daemon is ended. With the log held, a pid file
// naming another live process, no number (nor this test's group, everyone,
// init), a dead process or a process that started after it was written
// leaves the daemon unknown: nothing is ended or removed, exit 1. The pid file
// and the log are judged as entries: a link in either place is not followed
// (a log linked to the null device or to a file another process holds, a
// pid file linked to one with the daemon's number), and a device node as the
// log counts only for a process under the daemon's name.
TEST_F(WhoHolds, OnlyTheDaemonHoldingTheLogIsEnded) {
  const std::string path = settings(base());
  dir_.mkdir("bin");
  ::symlink("/bin/sleep", dir_.file("bin/exportd").c_str());
  ::symlink("/bin/sleep", dir_.file("bin/sleep").c_str());
  const std::vector<HolderRow> rows = holder_rows();
  for (const HolderRow& row : rows) {
    SCOPED_TRACE(&row - rows.data());
    // Wine shows a POSIX link as the file it leads to (no reparse point).
    if ((row.log != Log::kPlain || row.names == Names::kLinkedPidFile) && lxt::is_wine()) continue;
    const std::unique_ptr<lxt::Background> daemon = start_daemon(row);
    if (daemon == nullptr) continue;
    const std::unique_ptr<lxt::Background> other = name_in_pid_file(row);
    const std::string recorded = dir_.read("data/Exportd.pid");
    const RunResult r = stop({path, "FORCED"});
    EXPECT_EQ(r.status, row.ended ? 0 : 1);
    EXPECT_TRUE(row.ended ? r.err.empty() : matches(r.err, prefix() + row.err)) << r.err;
    EXPECT_EQ(daemon->wait(milliseconds(row.ended ? 30000 : 0)).has_value(), row.ended);
    EXPECT_EQ(dir_.exists("data/Exportd.pid"), !row.ended);
    if (!row.ended) {
      EXPECT_EQ(dir_.read("data/Exportd.pid"), recorded);
    }
    EXPECT_EQ(dir_.exists("data/gathering.tmp"), !row.ended);
    if (row.log == Log::kPlain) {
      EXPECT_EQ(matches(dir_.read("data/exportd.log"), "Gather daemon has stopped by request\\.\r?\n$"), row.ended);
    }
    if (other) {
      EXPECT_EQ(other->wait(milliseconds(0)), std::nullopt) << "the other process lives";
    }
    release();
  }
}

// A daemon's children that hold its log go with a FORCED stop, each ended
// through its own handle, also once the daemon itself has gone (after a
// NORMAL stop, which leaves them and says so, or when it forked and exited):
// NORMAL never leaves what FORCED cannot end. A process of the group that
// does not hold the log is left.
TEST_F(Stop, AForcedStopEndsWhatOfTheDaemonsGroupHoldsTheLog) {
  if (lxt::is_wine()) GTEST_SKIP() << "process groups are POSIX's";
  struct Row {
    const char* daemon_ends;  // the last command of the daemon's script
    std::vector<std::string> modes;
    std::string normal_err;  // after the NORMAL stop, when there is one
  };
  const std::string held_by = "exportd\\.log is still held open for writing by the processes CHILD\\.  ";
  const std::string not_running = "Exportd\\.pid names process [0-9]+, which is not running\\.  ";
  const Row rows[] = {{"exec sleep 600", {"FORCED"}, ""},
                      {"exec sleep 600", {"NORMAL", "FORCED"}, held_by},
                      {"exit 0", {"FORCED"}, ""},
                      {"exit 0", {"NORMAL", "FORCED"}, not_running}};
  const std::string path = settings(base());
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.daemon_ends) + " " + row.modes.front());
    for (const char* f : {"child.pid", "bystander.pid"}) ::unlink(dir_.file(f).c_str());
    dir_.write("data/exportd.log", "");
    lxt::RunOptions here;
    here.cwd = dir_.path();
    lxt::Background daemon({"/bin/sh", "-c",
                            "exec 3>>data/exportd.log; sleep 600 & echo $! >child.pid; "
                            "sleep 600 3>&- & echo $! >bystander.pid; echo $$ >Exportd.tmp; "
                            "mv Exportd.tmp data/Exportd.pid; " + std::string(row.daemon_ends)},
                           here);
    for (const char* f : {"data/Exportd.pid", "child.pid", "bystander.pid"}) {
      ASSERT_TRUE(lxt::wait_for_file(dir_.file(f))) << f;
    }
    const long child = std::stol(dir_.read("child.pid"));
    const long bystander = std::stol(dir_.read("bystander.pid"));
    for (const std::string& mode : row.modes) {
      // A NORMAL stop leaves a daemon at a transfer alone.
      if (mode == "FORCED") dir_.write("data/gathering.tmp", "");
      const RunResult r = stop({path, mode});
      if (mode == "NORMAL") {
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(matches(r.err, std::regex_replace(row.normal_err, std::regex("CHILD"), std::to_string(child))))
            << r.err;
        EXPECT_TRUE(process_alive(child));
        EXPECT_TRUE(dir_.exists("data/Exportd.pid"));
      } else {
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
      }
    }
    EXPECT_TRUE(daemon.wait(milliseconds(30000)).has_value());
    EXPECT_TRUE(lxt::wait_until([&] { return !process_alive(child); }, milliseconds(30000)));
    EXPECT_TRUE(process_alive(bystander)) << "it does not hold the log";
    EXPECT_FALSE(dir_.exists("data/Exportd.pid"));
    EXPECT_FALSE(dir_.exists("data/gathering.tmp"));
    ::kill(static_cast<pid_t>(bystander), SIGKILL);
  }
}

}  // namespace
