// The whole chain of a cycle as a scheduler runs it: lorvex-cycle, the
// launcher, Perl with the framework's gathering script (the stand-in),
// cyclerun and the stand-in tools, storeseal, packdump, gzip and a search
// service on 127.0.0.1; then lorvex-status. Each row makes one thing go
// wrong and says what the cycle command, last-cycle, the system log and the
// status command must make of it.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/programs/program_test.h"

namespace {

using lxt::matches;
using std::chrono::milliseconds;

class Chain : public lxt::ProgramTest {
 protected:
  Chain() : ProgramTest("", Journal::kNone) {}

  void SetUp() override {
    for (const char* d : {"home", "home/bin", "home/lib", "home/gatherers", "home/gatherers/g1",
                          "home/gatherers/g1/documents", "home/gatherers/g1/data", "layout"}) {
      dir_.mkdir(d);
    }
    std::filesystem::create_directory_symlink(lxt::bin_dir() + "/../kestrel/bin", dir_.file("home/lib/gatherer"));
    dir_.write(gdir("g1.cf"), "Gatherer-Name: g1\nData-Directory: data\nURL: file:documents/a.html\n"
                              "URL: http://www.example.jp/\n");
    dir_.write(gdir("documents/a.html"), "<html><body><p>Hello from the chain.</p></body></html>\n");
    dir_.write(gdir("data/PRODUCTION.gdbm"),
               lxt::read_file(std::string(LXT_DEMO_DIR) + "/gatherers/demo/data/PRODUCTION.gdbm"));
    dir_.write("layout/g1.ini", "KESTREL_HOME=" + dir_.file("home") + "\nGATHERER_NAME=g1\nGATHERER_DATA=" +
                                    dir_.file(gdir("data")) + "\nGATHERER_PORT=8801\nLXG_STARTMODE=LX\n");
    install_.write_catalogue(lxt::read_file(std::string(LXT_DEMO_DIR) + "/lib/lorvex.msg"));
  }

  static std::string gdir(const std::string& name) { return "home/gatherers/g1/" + name; }

  // A tool of the framework that does otherwise, found before the stand-in.
  void tool(const std::string& name, const std::string& script) const {
    dir_.write("home/bin/" + name, "#!/bin/sh\n" + script + "\n");
    ::chmod(dir_.file("home/bin/" + name).c_str(), 0755);
  }

  lxt::RunOptions options() const {
    lxt::RunOptions o;
    o.set("PATH", lxt::bin_dir() + ":/usr/bin:/bin");
    o.set("LORVEX_EVENTLOG", dir_.file("events")).set("LORVEX_GATHERERS", dir_.file("layout"));
    o.timeout = milliseconds(120000);
    return o;
  }
  // Started in a process group of its own (as every run of the harness),
  // which a row signals as a service manager signals a unit's processes.
  std::vector<std::string> cycle_argv() const { return {lxt::program("lorvex-cycle"), dir_.file("layout/g1.ini")}; }
  lxt::RunResult status() const { return run_program("lorvex-status", {"--brief"}, options()); }

  std::string last_cycle() const { return dir_.exists(gdir("last-cycle")) ? dir_.read(gdir("last-cycle")) : ""; }

  // A process that holds the finishing's lock until release().
  void hold_finishing_lock() {
    locker_ = std::make_unique<lxt::Background>(
        std::vector<std::string>{"/usr/bin/flock", dir_.file(gdir("data/storeseal.lock")), "/bin/sh", "-c",
                                 "touch " + dir_.file("locked") + "; while [ ! -e " + dir_.file("release") +
                                     " ]; do sleep 0.05; done"});
    ASSERT_TRUE(lxt::wait_until([this] { return dir_.exists("locked"); }, milliseconds(30000)));
  }
  void let_go() {
    if (!locker_) return;
    release();
    locker_->wait(milliseconds(30000));
    locker_.reset();
    std::filesystem::remove(dir_.file("release"));
  }

  std::unique_ptr<lxt::Background> locker_;

  struct Row {
    std::string name;
    std::function<void()> setup;
    int status;
    std::string what;   // a pattern of last-cycle's what=
    int status_exit;    // lorvex-status's
    std::string brief;  // a pattern of its brief line
    bool service = true;  // a search service listens
  };
  // Runs a cycle for each row and checks what the cycle command, last-cycle,
  // the system log and the status command make of it.
  void check(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
      SCOPED_TRACE(row.name);
      std::filesystem::remove_all(dir_.file("home/bin"));
      dir_.mkdir("home/bin");
      if (row.setup) row.setup();
      std::unique_ptr<lxt::Peer> peer;
      int port = lxt::Peer::closed_port();
      if (row.service) {
        peer = std::make_unique<lxt::Peer>(lxt::Peer::answering("0"));
        port = peer->port();
      }
      ASSERT_TRUE(install_.write_registry("\"CgiPortNo\"=" + lxt::reg_dword(port) + "\n"));
      std::filesystem::remove(dir_.file("events"));
      const lxt::RunResult cycle = run_argv(cycle_argv(), options());
      EXPECT_EQ(cycle.status, row.status) << cycle.err;
      const std::string kept = last_cycle();
      EXPECT_TRUE(matches(kept, "\nstatus=" + std::to_string(row.status) + "\n")) << kept;
      EXPECT_TRUE(matches(kept, "\nwhat=" + row.what)) << kept;
      EXPECT_TRUE(matches(kept, std::string("\nlevel=") + (row.status == 0 ? "information" : "error") + "\n")) << kept;
      EXPECT_TRUE(matches(dir_.read("events"), std::string("^lorvex-cycle\t") +
                                                   (row.status == 0 ? "INFORMATION" : "ERROR") + "\t0x0000000" +
                                                   std::to_string(row.status) + "\tg1: status " +
                                                   std::to_string(row.status) + ": " + row.what))
          << dir_.read("events");
      const lxt::RunResult look = status();
      EXPECT_EQ(look.status, row.status_exit) << look.out << look.err;
      EXPECT_TRUE(matches(look.out, row.brief)) << look.out;
      if (peer) peer->finish();
      let_go();
    }
  }
};

const std::string kFinishingFailed = "; finishing failed at ";
const std::string kFailedAt = "the database finishing failed at its step ";

TEST_F(Chain, EveryFailureOfTheCyclesStepsIsTheCyclesAndTheStatusCommandSaysSo) {
  check({
      {"clean", {}, 0, "clean; the search service was told", 0, "; finishing done; last \"status 0: clean"},
      {"linkprune fails", [this] { tool("linkprune", "exit 1"); }, 1, "linkprunecmd ended with status 1", 1,
       "; last \"status 1: linkprunecmd ended with status 1"},
      {"agecull crashes", [this] { tool("agecull", "kill -SEGV $$"); }, 1, "agecullcmd was killed by signal 11", 1,
       "status 1: agecullcmd was killed by signal 11"},
      {"keybuild fails", [this] { tool("keybuild", "exit 1"); }, 1, "keybuildcmd ended with status 1", 1,
       "keybuildcmd ended"},
      {"essence fails", [this] { tool("essence", "cat >/dev/null; exit 1"); }, 1, "pipeline ended with status 1", 1,
       "pipeline ended"},
  });
}

TEST_F(Chain, EveryFailureOfTheFinishingIsTheCyclesAndTheStatusCommandSaysSo) {
  check({
      {"storetidy fails", [this] { tool("storetidy", "exit 1"); }, 1,
       kFailedAt + "clean: Cleaning WORKING.gdbm failed \\(storetidy.exe returned 1\\)",
       1, kFinishingFailed + "clean: Cleaning WORKING.gdbm failed"},
      {"storetidy empties the database", [this] { tool("storetidy", ": > \"$1\""); }, 1,
       kFailedAt + "clean: Cleaning WORKING.gdbm failed \\(storetidy.exe left WORKING.gdbm empty", 1,
       kFinishingFailed + "clean"},
      {"storejoin crashes", [this] { tool("storejoin", "kill -SEGV $$"); }, 1,
       kFailedAt + "consolidate: Consolidating the databases failed \\(storejoin.exe returned 139\\)", 1,
       kFinishingFailed + "consolidate"},
      {"dbmtool writes nothing", [this] { tool("dbmtool", "exit 0"); }, 1,
       kFailedAt + "dump: The dump was not rebuilt", 1, kFinishingFailed + "dump"},
      {"gzip fails on -9cf", [this] { tool("gzip", "case \"$1\" in -9cf) exit 1;; esac; exec /bin/gzip \"$@\""); },
       1, kFailedAt + "dump", 1, kFinishingFailed + "dump"},
      {"ridOrizIdor fails", [this] { tool("ridOrizIdor", "exit 1"); }, 1,
       kFailedAt + "statistics: Rendering the statistics in Japanese failed", 1,
       kFinishingFailed + "statistics"},
      {"no search service", {}, 1, "the search service was not told", 1, "; finishing done; last \"status 1: the "
       "search service was not told", false},
      // Another run holds the finishing's lock: this cycle's finishing did nothing and left no record.
      {"the finishing's lock held", [this] { hold_finishing_lock(); }, 1,
       "storesealcmd ended with status 1; storeseal left no record of this cycle in [^\n]*/data \\(it is the record "
       "of another cycle\\)", 1, "; last \"status 1: storesealcmd ended with status 1"},
  });
}

// A clean cycle whose outcome has no place is no success: the status
// command would go on showing an older cycle.
TEST_F(Chain, ACleanCycleWhoseOutcomeCannotBeKeptIsNoSuccess) {
  lxt::Peer peer(lxt::Peer::answering("0"));
  ASSERT_TRUE(install_.write_registry("\"CgiPortNo\"=" + lxt::reg_dword(peer.port()) + "\n"));
  dir_.mkdir(gdir("last-cycle"));
  const lxt::RunResult cycle = run_argv(cycle_argv(), options());
  EXPECT_EQ(cycle.status, 3) << cycle.err;
  EXPECT_TRUE(matches(cycle.err, "Cannot keep the outcome in [^\n]*last-cycle \\(errno=21\\)")) << cycle.err;
  EXPECT_EQ(dir_.read("events"), "lorvex-cycle\tERROR\t0x00000003\tg1: status 3: clean; the search service was "
                                 "told (not kept in last-cycle)\n");
}

// A cycle killed half-way leaves a trace: a termination it can catch is
// recorded and logged before the command ends by it; a kill it cannot catch
// leaves the cycle it began, which the status command calls interrupted.
TEST_F(Chain, ACycleKilledHalfWayIsRecordedOrShownAsInterrupted) {
  lxt::Peer peer(lxt::Peer::answering("0"));
  ASSERT_TRUE(install_.write_registry("\"CgiPortNo\"=" + lxt::reg_dword(peer.port()) + "\n"));
  for (const int signal : {SIGTERM, SIGKILL}) {
    SCOPED_TRACE(signal);
    std::filesystem::remove(dir_.file("at-storejoin"));
    tool("storejoin", "touch " + dir_.file("at-storejoin") + "; exec sleep 120");
    lxt::Background cycle(cycle_argv(), options());
    ASSERT_TRUE(lxt::wait_until([&] { return dir_.exists("at-storejoin"); }, milliseconds(60000)));
    ASSERT_EQ(::kill(-cycle.pid(), signal), 0);
    const std::optional<int> ended = cycle.wait(milliseconds(30000));
    ASSERT_TRUE(ended.has_value());
    EXPECT_EQ(*ended, 128 + signal);
    // Every process of the cycle has gone with it, and its lock with them.
    ASSERT_TRUE(lxt::wait_until([&] { return ::kill(-cycle.pid(), 0) != 0; }, milliseconds(30000)));
    const lxt::RunResult look = status();
    EXPECT_EQ(look.status, 1) << look.out;
    if (signal == SIGTERM) {
      EXPECT_TRUE(matches(last_cycle(), "\nstatus=143\nlevel=error\nwhat=the cycle command was told to end "
                                        "\\(signal 15\\) while the cycle ran\n"))
          << last_cycle();
      EXPECT_TRUE(matches(dir_.read("events"), "\tERROR\t0x0000008F\tg1: status 143: "));
      EXPECT_TRUE(matches(look.out, "; last \"status 143: the cycle command was told to end")) << look.out;
    } else {
      EXPECT_TRUE(matches(look.out, "; last \"interrupted: the cycle begun [0-9]{8} [0-9:]{8} never ended; before "
                                    "it, status 143"))
          << look.out;
    }
  }
}

// Two cycle commands for one gatherer: the second runs nothing and writes
// nothing, and says try later; a gatherer started by hand keeps the command
// out the same way, and the last cycle's record stays.
TEST_F(Chain, AGathererAlreadyAtWorkIsTryLaterAndChangesNoRecord) {
  lxt::Peer peer(lxt::Peer::answering("0"));
  ASSERT_TRUE(install_.write_registry("\"CgiPortNo\"=" + lxt::reg_dword(peer.port()) + "\n"));
  tool("storejoin", "touch " + dir_.file("at-storejoin") + "; while [ ! -e " + dir_.file("go-on") +
                        " ]; do sleep 0.05; done; exec " + lxt::bin_dir() + "/../kestrel/bin/storejoin \"$@\"");
  lxt::Background first(cycle_argv(), options());
  ASSERT_TRUE(lxt::wait_until([&] { return dir_.exists("at-storejoin"); }, milliseconds(60000)));
  const std::string began = dir_.read(gdir("cycle-began"));
  const lxt::RunResult second = run_argv(cycle_argv(), options());
  EXPECT_EQ(second.status, 75);
  EXPECT_TRUE(matches(second.err, "^lorvex-cycle: [^\n]*: Another lorvex-cycle is at work for the gatherer g1 "
                                  "\\([^\n]*lorvex-cycle.lock is locked by [^\n]*\\)\\.  Nothing is run\\.\n$"))
      << second.err;
  EXPECT_EQ(dir_.read(gdir("cycle-began")), began);
  EXPECT_FALSE(dir_.exists("events")) << "nothing logged";
  dir_.write("go-on", "");
  const std::optional<int> ended = first.wait(milliseconds(60000));
  ASSERT_TRUE(ended.has_value());
  EXPECT_EQ(*ended, 0);
  const std::string clean = last_cycle();
  const std::string clean_began = dir_.read(gdir("cycle-began"));
  peer.finish();

  // A gatherer that another launcher started holds its log.
  auto holder = hold(gdir("log.gatherer"), gdir("Gatherer.pid"));
  std::filesystem::remove(dir_.file("events"));
  const lxt::RunResult busy = run_argv(cycle_argv(), options());
  EXPECT_EQ(busy.status, 75) << busy.err;
  EXPECT_TRUE(matches(dir_.read("events"), "^lorvex-cycle\tWARNING\t0x0000004B\tg1: status 75: a gatherer is "
                                           "already at work \\(process [0-9]+\\)\n$"))
      << dir_.read("events");
  EXPECT_EQ(last_cycle(), clean);
  EXPECT_EQ(dir_.read(gdir("cycle-began")), clean_began) << "the cycle begun last is the one that ran";
  EXPECT_EQ(status().status, 0) << "a cycle that ran no cycle is no fault";
  release();
  holder->wait(milliseconds(30000));
}

// A lock the system refuses to take keeps the cycle out as surely as a lock
// another command holds: nothing starts, nothing is recorded, and the line
// says why. It is no cycle at work: the status says no cycle ran, and the
// system log says it as an error.
TEST_F(Chain, ALockThatCannotBeTakenRunsNoCycle) {
  if (lxt::is_wine()) GTEST_SKIP() << "faults are dealt by the POSIX port only";
  ASSERT_TRUE(install_.write_registry("\"CgiPortNo\"=" + lxt::reg_dword(lxt::Peer::closed_port()) + "\n"));
  lxt::RunOptions o = options();
  o.set("LORVEX_TEST_FAULT_INJECTION", "lock:1:EIO:" + dir_.file("hit"));
  const lxt::RunResult cycle = run_argv(cycle_argv(), o);
  ASSERT_TRUE(dir_.exists("hit")) << "the lock was never asked for\n" << cycle.err;
  EXPECT_EQ(cycle.status, 2);
  EXPECT_TRUE(matches(dir_.read("events"), "^lorvex-cycle\tERROR\t0x00000002\tg1: status 2: the cycle command's "
                                           "lock [^\n]*lorvex-cycle.lock cannot be taken \\(errno=" +
                                               std::to_string(EIO) + "\\)\n$"))
      << dir_.read("events");
  EXPECT_TRUE(matches(cycle.err, "^lorvex-cycle: [^\n]*: Cannot take the lock [^\n]*lorvex-cycle.lock \\(errno=" +
                                     std::to_string(EIO) + "\\)\\.  No cycle is run\\.\n$"))
      << cycle.err;
  EXPECT_FALSE(dir_.exists(gdir("cycle-began")));
  EXPECT_EQ(last_cycle(), "");
  EXPECT_FALSE(dir_.exists(gdir("Gatherer.pid"))) << "a gatherer was started";
}

// A full disk under the data directory fails the cycle; the old production
// database stays.
TEST_F(Chain, AFullDiskFailsTheCycleAndLosesNoDatabase) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  const std::string data = dir_.file(gdir("data"));
  const std::string production = dir_.read(gdir("data/PRODUCTION.gdbm"));
  if (::mount("tmpfs", data.c_str(), "tmpfs", 0, "size=64k") != 0) GTEST_SKIP() << "no tmpfs can be mounted here";
  struct Unmount {
    std::string at;
    ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
  } unmount{data};
  dir_.write(gdir("data/PRODUCTION.gdbm"), production);
  // What is left of the file system is taken.
  dir_.write(gdir("data/filler"), std::string(64 * 1024, 'x'));
  lxt::Peer peer(lxt::Peer::answering("0"));
  ASSERT_TRUE(install_.write_registry("\"CgiPortNo\"=" + lxt::reg_dword(peer.port()) + "\n"));
  const lxt::RunResult cycle = run_argv(cycle_argv(), options());
  EXPECT_EQ(cycle.status, 1) << cycle.err;
  EXPECT_TRUE(matches(last_cycle(), "\nlevel=error\n")) << last_cycle();
  EXPECT_EQ(dir_.read(gdir("data/PRODUCTION.gdbm")), production);
  EXPECT_EQ(status().status, 1);
}

}  // namespace
