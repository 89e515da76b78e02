// Failing system calls, one at a time: each program's main path is run with
// the N-th call of one kind failing with one error, for N from 1 until a run
// makes fewer calls of that kind than N. After every run nothing may have
// crashed, the files that hold data must be whole, nothing may be left that
// blocks the next run, and a run that lost an effect must have said so.
// The failures are dealt by the POSIX port's test mode: native only.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/programs/program_test.h"

namespace {

using lxt::RunResult;

constexpr int kMaxCalls = 80;  // more calls of one kind than any main path makes

// Calls that can be interrupted by a signal: those must simply be retried.
const char* const kInterruptible[] = {"open", "read", "write", "connect"};

bool interruptible(const std::string& kind) {
  for (const char* k : kInterruptible) {
    if (kind == k) return true;
  }
  return false;
}

bool has_error_line(const std::string& text) { return text.find("ERROR") != std::string::npos; }
// The start failures of children are reported in the words of their own message.
bool reported(const std::string& err) { return has_error_line(err) || err.find("Error occured") != std::string::npos; }

// One program's main path.
struct Path {
  std::vector<std::string> kinds;
  // Puts the files in their state before the run.
  std::function<void()> prepare;
  std::function<RunResult(std::vector<lxt::EnvChange>)> run;
  // The effects of the run, as text: a run without failure gives the same.
  std::function<std::string()> effects;
  // Whether the effect the program's status stands for came about.
  std::function<bool()> succeeded;
  // Expectations that hold after every run, failed or not.
  std::function<void()> whole;
  bool has_failure_status = false;
  // The clean run itself ends with an error line (a refusal).
  bool refusal = false;
  // Whether the run reported its trouble where else it reports errors (its page).
  std::function<bool(const RunResult&)> reported_elsewhere = [](const RunResult&) { return false; };
  // Whether a failure that fell where the hit file's line says is one the
  // program rightly passes over in silence.
  std::function<bool(const std::string& hit)> silent = [](const std::string&) { return false; };
};

// The interpreter's failures are told in its own words, the messages of the
// Windows interpreter, or the system's text of an error that has none.
bool interpreter_reported(const std::string& err) {
  for (const char* words : {"There is not enough space on the disk.", "Access is denied.", "The handle is invalid.",
                            "Too many open files", "Input/output error"}) {
    if (err.find(words) != std::string::npos) return true;
  }
  return false;
}

// A failure inside the probe of gzip (its interpreter or gzip's start) reads
// as gzip not usable: then no dump is made and nothing is said.
bool in_gzip_probe(const std::string& hit) { return hit.find(" -V > \\nul 2>&1") != std::string::npos; }

// Each error kind is a test of its own, so that they run side by side.
class Faults : public lxt::ProgramTest, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    if (lxt::is_wine()) GTEST_SKIP() << "faults are dealt by the POSIX port only";
  }

  void walk(const Path& path) {
    path.prepare();
    const RunResult clean = path.run({});
    ASSERT_EQ(has_error_line(clean.err), path.refusal) << clean.err;
    const std::string expected = path.effects();
    const std::string hit_file = dir_.file("hit");
    int runs = 0;
    // Every call is failed once with one of the four lasting errors, in turn
    // (the programs handle them alike: that is what the turns check without
    // four times the runs), and once interrupted where a signal can cut it.
    // LORVEX_FAULT_WALK=every fails every call with each of them.
    const std::string error = GetParam();
    const bool interrupt = error == "EINTR";
    const char* walk_env = std::getenv("LORVEX_FAULT_WALK");
    const bool every = interrupt || (walk_env != nullptr && std::string(walk_env) == "every");
    int first = 1;
    for (const char* lasting : {"ENOSPC", "EIO", "EMFILE", "EACCES"}) {
      if (every || error == lasting) break;
      ++first;
    }
    const int step = every ? 1 : 4;
    for (const std::string& kind : path.kinds) {
      {
        if (interrupt && !interruptible(kind)) continue;
        bool met_end = false;
        for (int n = first; n <= kMaxCalls && !met_end; n += step) {
          SCOPED_TRACE(kind + ":" + std::to_string(n) + ":" + error);
          std::filesystem::remove(hit_file);
          path.prepare();
          const RunResult result =
              path.run({{"LORVEX_TEST_FAULT_INJECTION", kind + ":" + std::to_string(n) + ":" + error + ":" + hit_file}});
          ++runs;
          const bool hit = std::filesystem::exists(hit_file);
          ASSERT_EQ(result.err.find("cannot be read: no fault is dealt"), std::string::npos) << result.err;
          // 128+N natively for signal N; the negative statuses some programs give are 253 to 255.
          EXPECT_FALSE(result.status > 128 && result.status <= 128 + 64) << "ended by a signal\n" << result.err;
          EXPECT_EQ(result.err.find("Sanitizer"), std::string::npos) << result.err;
          EXPECT_EQ(result.err.find("runtime error"), std::string::npos) << result.err;
          const std::string effects = path.effects();
          path.whole();
          if (!hit || interrupt) {
            // No failure, or one that is retried: the run is the clean one.
            EXPECT_EQ(effects, expected) << result.err;
            EXPECT_EQ(has_error_line(result.err), path.refusal) << result.err;
          } else if (effects != expected && !path.silent(lxt::read_file(hit_file))) {
            EXPECT_TRUE(reported(result.err) || path.reported_elsewhere(result))
                << "an effect was lost without a word:\n" << effects << "\nerr:\n" << result.err;
          }
          if (path.has_failure_status && !path.succeeded()) {
            EXPECT_NE(result.status, 0) << result.err;
          }
          if (::testing::Test::HasFailure()) return;
          met_end = !hit;
        }
        EXPECT_TRUE(met_end) << kind << " " << error << ": more than " << kMaxCalls << " calls";
      }
    }
    RecordProperty("runs", runs);
  }
};

// ---- storeseal and packdump ---------------------------------------------------------

class FinishingFaults : public Faults {
 protected:
  void SetUp() override {
    Faults::SetUp();
    if (IsSkipped()) return;
    dir_.mkdir("data");
    install_.install_tools({"storetidy", "storejoin", "keybuild", "dbmtool", "gzip", "perl", "ridOrizIdor"});
    ASSERT_TRUE(install_.write_registry(lxt::RegistryKeys{}));
  }

  void gathered() const {
    std::filesystem::remove_all(dir_.file("data"));
    dir_.mkdir("data");
    dir_.write("data/WORKING.gdbm", "working\n");
    dir_.write("data/REFRESH.gdbm", "refresh\n");
    dir_.write("data/PRODUCTION.gdbm", "production\n");
    dir_.write("data/All-Templates.gz", "old dump\n");
    std::filesystem::remove(dir_.file("log"));
  }

  lxt::RunOptions options(std::vector<lxt::EnvChange> env) const {
    lxt::RunOptions options;
    options.env = {{"LXT_STOREJOIN_CREATE", "storeseal.gdbm"},
                   {"LXT_KEYBUILD_CREATE", "INDEX.gdbm,MD5.gdbm"},
                   {"LXT_GZIP_PRINT", "compressed"},
                   {"LXT_DBMTOOL_PRINT", "templates"},
                   {"LXT_PERL_PRINT", "info"},
                   {"LXT_RIDORIZIDOR_PRINT", "rendered"},
                   {"LXG_STARTMODE", "LX"},
                   {"KESTREL_GATHERER_LOGFILE", dir_.file("log")}};
    options.env.insert(options.env.end(), env.begin(), env.end());
    options.search_dirs.push_back(install_.tools_dir());
    return options;
  }

  std::string listing() const {
    std::string names;
    for (const char* name : {"WORKING.gdbm", "REFRESH.gdbm", "storeseal.gdbm", "packdump.out.gz"}) {
      if (dir_.exists("data/" + std::string(name))) names += std::string(name) + " ";
    }
    return names;
  }
};

TEST_P(FinishingFaults, StoresealLosesNoDatabaseAndSaysWhatFailed) {
  Path path;
  path.kinds = {"open", "read", "write", "close", "rename", "unlink", "chmod", "spawn", "fsync", "lock"};
  path.prepare = [&] { gathered(); };
  path.run = [&](std::vector<lxt::EnvChange> env) {
    lxt::RunOptions run_options = options(std::move(env));
    run_options.cwd = dir_.path();
    return lxt::run({lxt::program("storeseal"), "gid", dir_.file("data")}, run_options);
  };
  path.succeeded = [&] { return dir_.read("data/PRODUCTION.gdbm") == "made by storejoin\n"; };
  path.effects = [&] {
    // Log lines carry time stamps: their count stands for them.
    const std::string log = dir_.read("log");
    return "production=" + dir_.read("data/PRODUCTION.gdbm") + "dump=" + dir_.read("data/All-Templates.gz") +
           "left=" + listing() + "\nlog lines=" + std::to_string(std::count(log.begin(), log.end(), '\n'));
  };
  path.whole = [&] {
    const std::string production = dir_.read("data/PRODUCTION.gdbm");
    if (production == "production\n") {
      // Not replaced: the gathered databases are all still there.
      EXPECT_EQ(dir_.read("data/WORKING.gdbm"), "working\n");
      EXPECT_EQ(dir_.read("data/REFRESH.gdbm"), "refresh\n");
    } else {
      EXPECT_EQ(production, "made by storejoin\n");
    }
    const std::string dump = dir_.read("data/All-Templates.gz");
    EXPECT_TRUE(dump == "old dump\n" || dump == "compressed") << dump;
  };
  path.has_failure_status = true;
  path.silent = in_gzip_probe;
  walk(path);
}

TEST_P(FinishingFaults, PackdumpKeepsTheOldDumpUntilAWholeNewOneReplacesIt) {
  Path path;
  path.kinds = {"open", "close", "rename", "unlink", "chmod", "spawn", "fsync", "lock"};
  path.prepare = [&] {
    gathered();
    dir_.write("data/packdump.out.gz", "leftover");
  };
  path.run = [&](std::vector<lxt::EnvChange> env) {
    lxt::RunOptions run_options = options(std::move(env));
    run_options.cwd = dir_.file("data");
    return lxt::run({lxt::program("packdump")}, run_options);
  };
  path.succeeded = [&] { return true; };  // its status is always 0
  path.effects = [&] { return "dump=" + dir_.read("data/All-Templates.gz") + "left=" + listing(); };
  path.whole = [&] {
    const std::string dump = dir_.read("data/All-Templates.gz");
    EXPECT_TRUE(dump == "old dump\n" || dump == "compressed") << dump;
    EXPECT_EQ(dir_.read("data/PRODUCTION.gdbm"), "production\n");
  };
  path.silent = in_gzip_probe;
  walk(path);
}

// ---- cyclerun -----------------------------------------------------------------

// What a cycle did: the programs it started, the message page it ended
// with, and what it left in the working directory.
std::string cycle_effects(std::vector<std::string> names, const std::string& page, const std::string& work_dir) {
  // The members of the seeding pipeline start together: their order is no effect.
  std::sort(names.begin(), names.end());
  std::string started;
  for (const std::string& name : names) started += name + " ";
  const std::size_t id = page.find("<!-- ");
  // The URL input that cannot be deleted stays without a word, as every
  // failed clean-up of the cycle does: the next gathering writes it anew.
  std::string work;
  for (const auto& entry : std::filesystem::directory_iterator(work_dir)) {
    if (entry.path().filename() != "gatherinput") work += entry.path().filename().string() + " ";
  }
  return "started=" + started + "\npage=" + (id == std::string::npos ? "" : page.substr(id, page.find(" -->") - id)) +
         "\nwork=" + work;
}

TEST_P(Faults, CyclerunLeavesNoLockAndReportsWhatItCouldNotDo) {
  install_.install_tools({"linkprune", "agecull", "keybuild", "seedurls", "essence", "storeseal"});
  install_.write_catalogue();
  // Nothing listens at the command port: the cycle ends with the page that says so.
  ASSERT_TRUE(install_.write_registry(lxt::Installation::command_port(lxt::Peer::closed_port())));
  const std::string settings = "Data-Directory=" + dir_.file("data") + "\nWorking-Directory=" + dir_.file("work") +
                               "\nGatherer-Name=demo\nlinkprunecmd=linkprune.exe\nagecullcmd=agecull.exe\n"
                               "keybuildcmd=keybuild.exe\nseedcmd=seedurls.exe\nessencecmd=essence.exe\n"
                               "storesealcmd=" + install_.tool("storeseal") + "\n";
  Path path;
  path.kinds = {"open", "read", "write", "close", "unlink", "chmod", "spawn", "socket", "connect"};
  path.prepare = [&] {
    std::filesystem::remove_all(dir_.file("work"));
    std::filesystem::remove_all(dir_.file("data"));
    std::filesystem::remove(dir_.file("journal"));
    // A lock left by the run before (one that said it could not remove it).
    std::filesystem::remove(dir_.file("inst/.lxQ71K58R03lock"));
    dir_.mkdir("work");
    dir_.mkdir("data");
    dir_.write("data/PRODUCTION.gdbm", "production\n");
    dir_.write("work/gatherinput", "http://www.example.jp/\n");
    dir_.write("settings.ini", settings);
  };
  std::string page;
  path.run = [&](std::vector<lxt::EnvChange> env) {
    lxt::RunOptions options;
    options.env = std::move(env);
    options.search_dirs.push_back(install_.tools_dir());
    RunResult result = run_program("cyclerun", {dir_.file("settings.ini")}, options);
    page = result.out;
    return result;
  };
  path.effects = [&] { return cycle_effects(programs(), page, dir_.file("work")); };
  path.succeeded = [] { return true; };  // its status is always 0
  path.whole = [&] {
    // Only a lock that could not be removed stays, and the page says so.
    if (dir_.exists("inst/.lxQ71K58R03lock")) {
      EXPECT_NE(page.find("<!-- LXCM022-E"), std::string::npos) << "a lock that blocks the next cycle\n" << page;
    }
    EXPECT_EQ(dir_.read("data/PRODUCTION.gdbm"), "production\n");
    EXPECT_EQ(dir_.read("settings.ini"), settings);
  };
  // The page is its report: one that names another message than the clean
  // run's. The pipeline's members are started by the interpreter, whose own
  // failures are told on the shared standard error.
  path.reported_elsewhere = [](const RunResult& result) {
    return result.out.find("<!-- LXCM019-E") == std::string::npos || interpreter_reported(result.err);
  };
  walk(path);
}

// ---- LaunchCrawler -------------------------------------------------------------

TEST_P(Faults, LaunchCrawlerRecordsItsGathererOrRunsNone) {
  dir_.mkdir("home");
  dir_.mkdir("home/bin");
  dir_.mkdir("home/gatherers");
  dir_.mkdir("home/gatherers/demo");
  const std::string perl = lxt::install_double("lxrecord", dir_.file("home/bin"), "perl");
  ASSERT_TRUE(install_.write_registry(lxt::RegistryKeys{.path00 = std::nullopt, .env_info = "\"PerlPath\"=" + lxt::reg_string(perl) + "\n"}));
  const std::string settings = "GATHERER_NAME=demo\nKESTREL_HOME=" + dir_.file("home") + "\n";
  Path path;
  path.kinds = {"open", "read", "write", "close", "unlink", "spawn"};
  path.prepare = [&] {
    std::filesystem::remove(dir_.file("journal"));
    std::filesystem::remove(dir_.file("home/gatherers/demo/Gatherer.pid"));
    dir_.write("launch.cf", settings);
  };
  path.run = [&](std::vector<lxt::EnvChange> env) {
    lxt::RunOptions options;
    // The script records the pid file as it finds it.
    options.env.push_back({"LXT_LIST", "cwd"});
    options.env.insert(options.env.end(), env.begin(), env.end());
    return run_program("LaunchCrawler", {dir_.file("launch.cf")}, options);
  };
  path.effects = [&] {
    const std::vector<lxt::Record> records = journal();
    std::string text = "gatherers=" + std::to_string(records.size());
    for (const lxt::Record& record : records) {
      for (const std::string& file : record.files) text += " " + file;
    }
    return text;
  };
  path.succeeded = [] { return true; };  // its status is always 0
  path.whole = [&] {
    // A gatherer never runs without its pid file, and none is left after it.
    for (const lxt::Record& record : journal()) {
      EXPECT_NE(std::find(record.files.begin(), record.files.end(), "Gatherer.pid"), record.files.end());
    }
    const std::string left = dir_.read("home/gatherers/demo/Gatherer.pid");
    if (!left.empty()) {
      // A pid file that could not be removed names no running gatherer: the next launch goes ahead.
      std::filesystem::remove(dir_.file("journal"));
      const RunResult again = run_program("LaunchCrawler", {dir_.file("launch.cf")});
      EXPECT_EQ(journal().size(), 1u) << again.err;
    }
  };
  walk(path);
}

// A process of its own that holds a file open for writing, as a running
// gatherer holds its log and a running export daemon its own. Nothing writes
// the file it waits for: it runs until it is ended, at the latest with the test.
class Holder {
 public:
  Holder(const lxt::TempDir& dir, const std::string& file) : dir_(dir), file_(file) {}
  // Started anew when the one before has been ended; its process id.
  int ensure() {
    if (process_ && !process_->wait(std::chrono::milliseconds(0))) return process_->pid();
    std::filesystem::remove(dir_.file("holder.journal"));
    lxt::RunOptions options;
    options.set("LXT_HOLD", dir_.file(file_)).set("LXT_UNTIL", dir_.file("release"));
    options.set("LXT_JOURNAL", dir_.file("holder.journal"));
    process_ = std::make_unique<lxt::Background>(std::vector<std::string>{lxt::native_double_path("lxrecord")}, options);
    EXPECT_TRUE(lxt::wait_until([&] { return dir_.exists("holder.journal"); }, std::chrono::milliseconds(60000)));
    return process_->pid();
  }
  bool running() { return process_ && !process_->wait(std::chrono::milliseconds(0)); }

 private:
  const lxt::TempDir& dir_;
  std::string file_;
  std::unique_ptr<lxt::Background> process_;
};

TEST_P(Faults, LaunchCrawlerNeverStartsASecondGatherer) {
  dir_.mkdir("home");
  dir_.mkdir("home/gatherers");
  dir_.mkdir("home/gatherers/demo");
  Holder gatherer(dir_, "home/gatherers/demo/log.gatherer");
  lxt::install_double("lxrecord", dir_.file("home"), "perl");
  ASSERT_TRUE(install_.write_registry_text("REGEDIT4\n"));
  const std::string settings = "GATHERER_NAME=demo\nKESTREL_HOME=" + dir_.file("home") + "\n";
  Path path;
  path.kinds = {"open", "read", "write", "close", "unlink", "spawn"};
  path.prepare = [&] {
    std::filesystem::remove(dir_.file("journal"));
    gatherer.ensure();
    dir_.write("home/gatherers/demo/Gatherer.pid", "4242\n");
    dir_.write("launch.cf", settings);
  };
  path.run = [&](std::vector<lxt::EnvChange> env) {
    lxt::RunOptions options;
    options.env = std::move(env);
    options.search_dirs.push_back(dir_.file("home"));  // where a perl would be found
    return run_program("LaunchCrawler", {dir_.file("launch.cf")}, options);
  };
  path.effects = [&] { return "gatherers=" + std::to_string(journal().size()); };
  path.succeeded = [] { return true; };  // its status is always 0
  path.refusal = true;
  path.whole = [&] {
    // However its own calls fail, the launcher sees the gatherer at work.
    EXPECT_TRUE(journal().empty()) << "a second gatherer";
    EXPECT_EQ(dir_.read("home/gatherers/demo/Gatherer.pid"), "4242\n");
    EXPECT_TRUE(gatherer.running());
  };
  walk(path);
}

// ---- LaunchServer and StopServer -------------------------------------------------

class ServerFaults : public Faults {
 protected:
  void SetUp() override {
    Faults::SetUp();
    if (IsSkipped()) return;
    for (const char* d : {"home", "home/lib", "home/lib/gatherer", "data"}) dir_.mkdir(d);
    lxt::install_double("lxrecord", dir_.file("home/lib/gatherer"), "exportd");
    ASSERT_TRUE(install_.write_registry_text("REGEDIT4\n"));
  }
  std::string settings() const {
    return "KESTREL_HOME=" + dir_.file("home") + "\nGATHERER_NAME=demo\nGATHERER_DATA=" + dir_.file("data") +
           "\nGATHERER_PORT=8500\n";
  }
};

TEST_P(ServerFaults, LaunchServerStartsTheDaemonOrSaysWhyNot) {
  Path path;
  // A daemon's end is watched through its process descriptor, or without one.
  path.kinds = {"open", "read", "write", "close", "spawn", "pidfd"};
  path.prepare = [&] {
    std::filesystem::remove(dir_.file("journal"));
    std::filesystem::remove(dir_.file("events"));
    dir_.write("data/exportd.log", "earlier line\n");
    dir_.write("server.ini", settings());
  };
  path.run = [&](std::vector<lxt::EnvChange> env) {
    env.push_back({"LXT_EXPORTD_EXIT", "0"});  // a daemon that ends at once gives its status
    env.push_back({"LORVEX_EVENTLOG", dir_.file("events")});
    lxt::RunOptions options;
    options.env = std::move(env);
    return run_program("LaunchServer", {dir_.file("server.ini")}, options);
  };
  // A settings file it cannot read is reported in the system's event log.
  path.reported_elsewhere = [&](const RunResult&) { return dir_.read("events").find("\tERROR\t") != std::string::npos; };
  path.effects = [&] { return "daemons=" + std::to_string(journal().size()); };
  path.succeeded = [&] { return journal().size() == 1; };
  path.has_failure_status = true;
  path.whole = [&] {
    EXPECT_EQ(dir_.read("server.ini"), settings());
    EXPECT_TRUE(dir_.read("data/exportd.log").starts_with("earlier line\n"));
  };
  walk(path);
}

TEST_P(ServerFaults, StopServerNeverLeavesADaemonOutOfReach) {
  Holder daemon(dir_, "data/exportd.log");
  Path path;
  // The daemon is examined and ended through process descriptors: one that
  // cannot be had or signalled is a stop that says it failed.
  path.kinds = {"open", "read", "write", "close", "unlink", "spawn", "pidfd", "signal"};
  path.prepare = [&] {
    dir_.write("data/Exportd.pid", std::to_string(daemon.ensure()) + "\n");
    dir_.write("data/gathering.1", "part");
    dir_.write("server.ini", settings());
  };
  path.run = [&](std::vector<lxt::EnvChange> env) {
    lxt::RunOptions options;
    options.env = std::move(env);
    return run_program("StopServer", {dir_.file("server.ini"), "FORCED"}, options);
  };
  // What the stop stands for: the daemon ended, its pid file gone. The
  // removal of its work files and the notice in its log are passed over
  // without a word when they fail.
  path.effects = [&] { return (daemon.running() ? "running" : "ended") + dir_.read("data/Exportd.pid"); };
  path.succeeded = [&] { return !daemon.running(); };
  path.has_failure_status = true;
  path.whole = [&] {
    EXPECT_EQ(dir_.read("server.ini"), settings());
    if (daemon.running()) {
      // A later stop must still find it.
      EXPECT_TRUE(dir_.exists("data/Exportd.pid"));
      EXPECT_TRUE(dir_.exists("data/gathering.1"));
    }
  };
  walk(path);
}

const char* const kErrors[] = {"ENOSPC", "EIO", "EMFILE", "EACCES", "EINTR"};
INSTANTIATE_TEST_SUITE_P(Each, Faults, ::testing::ValuesIn(kErrors));
INSTANTIATE_TEST_SUITE_P(Each, FinishingFaults, ::testing::ValuesIn(kErrors));
INSTANTIATE_TEST_SUITE_P(Each, ServerFaults, ::testing::ValuesIn(kErrors));

}  // namespace
