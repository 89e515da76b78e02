// The end-of-cycle notice to the search service, under the installation's
// cycle lock.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/programs/cycle_fixture.h"
#include "tests/programs/program_test.h"

namespace {

// The fixtures and helpers of the program tests.
using namespace lxt;

// ---- the end-of-cycle notice ------------------------------------------------

class Notice : public Cycle {
 protected:
  // Runs a whole cycle whose notice goes to the peer.
  RunResult notify(lxt::Peer& peer, const std::string& extra_settings = "") {
    registry(peer.port());
    return cyclerun({settings(base_settings() + extra_settings)});
  }
  bool lock_exists() const { return dir_.exists("inst/.lxQ71K58R03lock"); }
};


TEST_F(Notice, NumericRepliesAreTheTwoKindsOfSuccess) {
  struct Case {
    const char* reply;
    const char* id;
  };
  for (const Case& c : {Case{"0", "LXCM601-I"}, Case{"0\n", "LXCM601-I"}, Case{" 12 done", "LXCM610-I"},
                        Case{"-1", "LXCM610-I"}, Case{"4294967296", "LXCM610-I"}, Case{"-000", "LXCM601-I"}}) {
    lxt::Peer peer(Peer::answering(c.reply));
    ASSERT_NE(peer.port(), 0);
    dir_.write("work/gatherinput", kUrls);
    const RunResult result = notify(peer);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(peer.finish(), 0);
    // One blank between the command and the name; the zero byte goes out too.
    EXPECT_EQ(peer.request(), std::string("ZIVIDUZ demo gatherer\0", 22));
    EXPECT_EQ(result.out.find("Content-Type: text/html\n\n" + comment(c.id)), 0u) << c.reply << "\n" << result.out;
    EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 31) << "one page only";
    EXPECT_FALSE(lock_exists());
  }
}

TEST_F(Notice, TheExchangeRunsUnderTheCycleLock) {
  lxt::Peer::Options options = Peer::answering("0");
  options.watch = dir_.file("inst/.lxQ71K58R03lock");
  lxt::Peer peer(options);
  ASSERT_NE(peer.port(), 0);
  const RunResult result = notify(peer);
  EXPECT_EQ(peer.finish(), 0);
  EXPECT_EQ(peer.watched(), "present");
  EXPECT_FALSE(lock_exists());
  EXPECT_TRUE(result.out.starts_with("Content-Type: text/html\n\n" + comment("LXCM601-I"))) << result.out;
}

TEST_F(Notice, RejectionIsReportedWhateverItsCase) {
  lxt::Peer peer(Peer::answering("lxsCommandErr: unknown"));
  ASSERT_NE(peer.port(), 0);
  const RunResult result = notify(peer);
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(result.out.starts_with("Content-Type: text/html\n\n" + comment("LXCM001-E 200"))) << result.out;
  EXPECT_TRUE(matches(result.out, "<TD ALIGN=\"left\">LXCM001-E:</TD>\n<TD ALIGN=\"left\">wrong use \\(detail 200\\)</TD>\n"));
  EXPECT_FALSE(lock_exists());
}

TEST_F(Notice, ServiceClosingWithoutAnswerOrAnsweringNonsense) {
  {
    lxt::Peer peer;  // closes without data
    ASSERT_NE(peer.port(), 0);
    const RunResult result = notify(peer);
    EXPECT_TRUE(matches(result.out, "^Content-Type: text/html\n\n<!-- LXCM002-E Server closed connection,[0-9]+ -->\n"))
        << result.out;
    EXPECT_FALSE(matches(result.out, "LXCM6")) << "no success after a failure";
  }
  {
    dir_.write("work/gatherinput", kUrls);
    lxt::Peer peer(Peer::answering("OK"));
    ASSERT_NE(peer.port(), 0);
    const RunResult result = notify(peer);
    EXPECT_TRUE(result.out.starts_with("Content-Type: text/html\n\n" + comment("LXCM001-E 201"))) << result.out;
    EXPECT_FALSE(lock_exists());
  }
}

TEST_F(Notice, ServiceNotRunningAndPortNotConfigured) {
  const RunResult down = cyclerun({settings(base_settings())});
  EXPECT_TRUE(down.out.starts_with("Content-Type: text/html\n\n" + comment("LXCM019-E"))) << down.out;
  EXPECT_FALSE(lock_exists());

  dir_.write("work/gatherinput", kUrls);
  registry(-1);  // EnvInfo without CgiPortNo
  const RunResult no_value = cyclerun({settings(base_settings())});
  EXPECT_TRUE(no_value.out.starts_with("Content-Type: text/html\n\n" + comment("LXCM002-E RegQueryValueEx,2"))) << no_value.out;
  EXPECT_FALSE(lock_exists());

  dir_.write("work/gatherinput", kUrls);
  ASSERT_TRUE(install_.write_registry(lxt::RegistryKeys{.path00 = install_.path(), .env_info = std::nullopt}));
  const RunResult no_key = cyclerun({settings(base_settings())});
  EXPECT_TRUE(no_key.out.starts_with("Content-Type: text/html\n\n" + comment("LXCM002-E RegOpenKeyEx,2"))) << no_key.out;
}

TEST_F(Notice, ClosedStandardStreamsEndNeitherTheCycleNorItsLock) {
  // A caller that stops reading: the page (written under the lock) and the
  // warnings are lost, but the run goes on to its end and frees the lock.
  for (bool closed_out : {true, false}) {
    SCOPED_TRACE(closed_out ? "standard output closed" : "standard error closed");
    dir_.write("work/gatherinput", kUrls);
    lxt::RunOptions options;
    options.stdout_closed = closed_out;
    options.stderr_closed = !closed_out;
    const RunResult result = cyclerun({settings(base_settings() + "unknown-name=x\n")}, options);
    EXPECT_EQ(result.status, 0);
    EXPECT_FALSE(lock_exists());
    EXPECT_EQ(programs().size(), 4u) << "no production database: no expiry, no index";
    std::filesystem::remove(dir_.file("journal"));
  }
}

TEST_F(Notice, AKillWhileAnyToolRunsLeavesNothingThatBlocksTheNextCycle) {
  dir_.mkdir("killers");
  dir_.write("data/PRODUCTION.gdbm", "production\n");
  const std::string killer_storeseal = lxt::install_double("lxkill", dir_.file("killers"), "storeseal");
  // storeseal is named by its path: the killing one stands in its place there.
  const std::string settings_text = [&] {
    std::string text = base_settings();
    const std::string recorded = install_.tool("storeseal");
    text.replace(text.find(recorded), recorded.size(), lxt::host_path(killer_storeseal));
    return text;
  }();
  std::filesystem::remove(killer_storeseal);
  for (const std::string& tool : kTools) {
    SCOPED_TRACE(tool);
    dir_.write("work/gatherinput", kUrls);
    const std::string killer = lxt::install_double("lxkill", dir_.file("killers"), tool);
    lxt::RunOptions options;
    options.env = {{"LXT_KILL", "cyclerun"}};
    options.search_dirs.push_back(dir_.file("killers"));
    const RunResult killed = cyclerun({settings(settings_text)}, options);
    std::remove(killer.c_str());
    // SIGKILL natively; under Wine the status the killer gives TerminateProcess.
    EXPECT_EQ(killed.status, 128 + 9) << killed.err;
    EXPECT_EQ(dir_.read("data/PRODUCTION.gdbm"), "production\n");
    EXPECT_FALSE(lock_exists());

    // The next cycle runs whole, up to its notice.
    std::filesystem::remove(dir_.file("journal"));
    dir_.write("work/gatherinput", kUrls);
    const RunResult again = cyclerun({settings(base_settings())});
    EXPECT_EQ(again.status, 0) << again.err;
    // The members of the seeding pipeline start together, in either order.
    std::vector<std::string> started = programs();
    std::sort(started.begin(), started.end());
    // The killed cycle's pipeline may still be ending beside it.
    started.erase(std::unique(started.begin(), started.end()), started.end());
    EXPECT_EQ(started, (std::vector<std::string>{"agecull", "essence", "keybuild", "linkprune", "seedurls",
                                                 "storeseal"}));
    EXPECT_NE(again.out.find(comment("LXCM019-E")), std::string::npos) << again.out;
    EXPECT_EQ(dir_.read("data/PRODUCTION.gdbm"), "production\n");
    EXPECT_FALSE(lock_exists());
    std::filesystem::remove(dir_.file("journal"));
  }
}

TEST_F(Notice, ToldToEndWhileTheServiceIsSilentItFreesTheLock) {
  if (lxt::is_wine()) GTEST_SKIP() << "signals are a POSIX matter; Wine cannot send a console event to one program";
  // A service that never answers, and an administrator who ends the waiting
  // run: the lock goes with it, and the next cycle is not kept back.
  for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
    SCOPED_TRACE(signal);
    lxt::Peer::Options options;
    options.read = "nul";
    options.hold = true;
    lxt::Peer silent(options);
    ASSERT_NE(silent.port(), 0);
    registry(silent.port());
    dir_.write("work/gatherinput", kUrls);
    lxt::RunOptions run_options;
    run_options.search_dirs.push_back(install_.tools_dir());
    lxt::Background cycle({lxt::program("cyclerun"), settings(base_settings())}, in_test(run_options));
    ASSERT_TRUE(silent.wait_request());
    ASSERT_TRUE(lock_exists());
    cycle.signal(signal);
    EXPECT_EQ(cycle.wait(std::chrono::seconds(30)), 128 + signal) << "it ends as the signal says";
    EXPECT_FALSE(lock_exists());
  }
  lxt::Peer peer(Peer::answering("0"));
  ASSERT_NE(peer.port(), 0);
  dir_.write("work/gatherinput", kUrls);
  EXPECT_TRUE(notify(peer).out.starts_with("Content-Type: text/html\n\n" + comment("LXCM601-I")));
}

TEST_F(Notice, HeldLockKeepsTheNoticeBack) {
  dir_.write("inst/.lxQ71K58R03lock", "");
  const RunResult result = cyclerun({settings(base_settings())});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out.find("Content-Type: text/html\n\n" + comment("LXCM016-E")), 0u) << result.out;
  EXPECT_FALSE(matches(result.out, "LXCM019")) << "no connection is tried";
  EXPECT_TRUE(lock_exists());
}

TEST_F(Notice, LockThatCannotBeCreated) {
  ASSERT_TRUE(install_.write_registry(lxt::RegistryKeys{.path00 = dir_.host("no-such-dir"), .env_info = std::nullopt}));
  const RunResult result = cyclerun({settings(base_settings())});
  EXPECT_EQ(result.status, 0);
  // The installation has no catalogue either: the catalogue's own message is the only output.
  const std::string expected = lxt::backslashed(dir_.host("no-such-dir") + "\\lib\\lorvex.msg");
  EXPECT_TRUE(result.out.starts_with("Content-Type: text/html\n\n" + comment("QTRM107-E " + expected))) << result.out;
}

// A lock path longer than the system takes is refused before the lock is
// taken; the Windows runtime would call its removal "no such file" and the
// lock would stay for ever.
TEST_F(Notice, LockPathTooLongForTheSystemIsNeverTaken) {
  if (!lxt::is_wine()) GTEST_SKIP() << "an installation path of 256 characters fits the POSIX path limit";
  // The lock's path is longer than Windows takes (the catalogue's is too:
  // its lookup's own message is then the only output).
  std::string root = "i";
  while (dir_.host(root + "/inst").size() < 244) root += "i";
  dir_.mkdir(root);
  lxt::Installation longer{dir_, root};
  longer.write_catalogue();
  ASSERT_TRUE(longer.write_registry(lxt::Installation::command_port(Peer::closed_port())));
  for (int run = 0; run < 2; ++run) {
    const RunResult result = cyclerun({settings(base_settings())});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out.find("LXCM016-E"), std::string::npos) << run << result.out;  // never held
    EXPECT_FALSE(dir_.exists(root + "/inst/.lxQ71K58R03lock")) << run;
  }
}

TEST_F(Notice, InstallationWrittenWithBackslashes) {
  // Windows paths come with backslashes; the lock and the catalogue are found all the same.
  lxt::Peer peer(Peer::answering("0"));
  ASSERT_NE(peer.port(), 0);
  ASSERT_TRUE(install_.write_registry(
      {.path00 = lxt::backslashed(install_.path()), .env_info = lxt::Installation::command_port(peer.port())}));
  dir_.write("inst/.lxQ71K58R03lock", "");
  const RunResult held = cyclerun({settings(base_settings())});
  EXPECT_TRUE(held.out.starts_with("Content-Type: text/html\n\n" + comment("LXCM016-E"))) << held.out;

  dir_.write("work/gatherinput", kUrls);
  ASSERT_EQ(std::remove(dir_.file("inst/.lxQ71K58R03lock").c_str()), 0);
  const RunResult result = cyclerun({settings(base_settings())});
  EXPECT_TRUE(result.out.starts_with("Content-Type: text/html\n\n" + comment("LXCM601-I"))) << result.out;
  EXPECT_EQ(peer.finish(), 0);
  EXPECT_FALSE(lock_exists());
}

TEST_F(Notice, GathererNameLimits) {
  const std::string longest(503, 'g');
  lxt::Peer peer(Peer::answering("0"));
  ASSERT_NE(peer.port(), 0);
  const RunResult fits = notify(peer, "Gatherer-Name=" + longest + "\n");
  EXPECT_EQ(peer.finish(), 0);
  EXPECT_EQ(peer.request(), "ZIVIDUZ " + longest + std::string(1, '\0'));
  EXPECT_TRUE(fits.out.starts_with("Content-Type: text/html\n\n" + comment("LXCM601-I"))) << fits.out;

  dir_.write("work/gatherinput", kUrls);
  const RunResult too_long = cyclerun({settings(base_settings() + "Gatherer-Name=" + longest + "g\n")});
  EXPECT_EQ(too_long.status, 0);
  EXPECT_EQ(too_long.out, "");
  EXPECT_TRUE(matches(too_long.err, "is invalid\\.  \\(Gatherer-Name is longer than 503 bytes\\.\\)\n$")) << too_long.err;
  EXPECT_FALSE(lock_exists());
}

class ManyCycles : public Notice {
 protected:
  // Each run has its own working and data directory; the settings files.
  std::vector<std::string> make_runs(int runs) const {
    std::vector<std::string> settings_paths;
    for (int i = 0; i < runs; ++i) {
      const std::string n = std::to_string(i);
      dir_.mkdir("work" + n);
      dir_.mkdir("data" + n);
      dir_.write("work" + n + "/gatherinput", kUrls);
      std::string text = base_settings();
      text = std::regex_replace(text, std::regex("Data-Directory=[^\n]*"), "Data-Directory=" + dir_.host("data" + n));
      text = std::regex_replace(text, std::regex("Working-Directory=[^\n]*"),
                                "Working-Directory=" + dir_.host("work" + n));
      dir_.write("work" + n + "/cyclerun.ini", text);
      settings_paths.push_back(dir_.host("work" + n + "/cyclerun.ini"));
    }
    return settings_paths;
  }

  // Runs every cycle at once. Their storeseal holds until every run has
  // reached it, so that all of them go on to the notice together; a run
  // that ended without reaching its storeseal ends the wait as well.
  std::vector<RunResult> run_together(const std::vector<std::string>& settings_paths) const {
    const std::size_t count = settings_paths.size();
    std::vector<RunResult> results(count);
    std::vector<std::atomic<bool>> ended(count);
    std::vector<std::thread> runs;
    for (std::size_t i = 0; i < count; ++i) {
      runs.emplace_back([&, i] {
        lxt::RunOptions options;
        options.timeout = std::chrono::minutes(5);
        options.set("LXT_STORESEAL_PIDFILE", dir_.host("ready/" + std::to_string(i)));
        options.set("LXT_STORESEAL_UNTIL", dir_.host("go"));
        options.search_dirs.push_back(install_.tools_dir());
        options.cwd = dir_.path();
        results[i] = lxt::run({lxt::program("cyclerun"), settings_paths[i]}, options);
        ended[i] = true;
      });
    }
    const auto reached = [&](std::size_t i) { return dir_.exists("ready/" + std::to_string(i)); };
    const bool all_there = lxt::wait_until(
        [&] {
          for (std::size_t i = 0; i < count; ++i) {
            if (!reached(i) && !ended[i]) return false;
          }
          return true;
        },
        std::chrono::minutes(4));
    dir_.write("go", "");
    for (auto& run : runs) run.join();
    EXPECT_TRUE(all_there);
    for (std::size_t i = 0; i < count; ++i) {
      EXPECT_TRUE(reached(i)) << "run " << i << " ended before its storeseal:\n" << results[i].out << results[i].err;
    }
    return results;
  }
};

// What each run's page says became of its notice: given (counted in
// noticed), held back by the lock (in held_back), or failed.
void count_notices(const std::vector<RunResult>& results, int* noticed, int* held_back) {
  for (std::size_t i = 0; i < results.size(); ++i) {
    const RunResult& result = results[i];
    SCOPED_TRACE("run " + std::to_string(i) + "\n" + result.out + result.err);
    EXPECT_EQ(result.status, 0);
    EXPECT_FALSE(result.timed_out);
    std::smatch first;
    ASSERT_TRUE(
        std::regex_search(result.out, first, std::regex("^Content-Type: text/html\r?\n\r?\n<!-- (LXCM[0-9]+-[EI])")));
    if (first[1] == "LXCM601-I") {
      ++*noticed;
    } else if (first[1] == "LXCM016-E") {
      ++*held_back;
    } else {
      EXPECT_EQ(first[1].str().back(), 'E');
    }
  }
}

// Many cycles ending at once, one search service: the cycle lock lets one
// notice at a time through, and every run either gives its notice or says why
// not. The service double holds each connection unanswered for a while and
// counts connections open at the same time.
TEST_F(ManyCycles, ManyCyclesEndingAtOnceSendOneNoticeAtATime) {
  if (lxt::is_wine()) GTEST_SKIP() << "64 Wine programs at once are beyond this machine";
  constexpr int kRuns = 64;
  dir_.mkdir("service");
  dir_.mkdir("ready");
  lxt::RunOptions native;
  native.native = true;
  lxt::Background service({lxt::native_double_path("lxserve"), "--port-file", dir_.file("service/port"),
                           "--record-file", dir_.file("service/record"), "--stop-file",
                           dir_.file("service/stop"), "--reply", "0", "--hold-ms", "100"},
                          native);
  ASSERT_TRUE(lxt::wait_for_file(dir_.file("service/port")));
  registry(std::stoi(dir_.read("service/port")));
  const std::vector<RunResult> results = run_together(make_runs(kRuns));
  dir_.write("service/stop", "");
  ASSERT_EQ(service.wait(std::chrono::seconds(30)), 0);

  const std::string record = dir_.read("service/record");
  std::smatch counts;
  ASSERT_TRUE(std::regex_search(record, counts, std::regex("^connections ([0-9]+)\nmost-at-once ([0-9]+)\n")))
      << record;
  const int connections = std::stoi(counts[1]);
  EXPECT_EQ(counts[2].str(), connections > 0 ? "1" : "0") << "two notices were exchanged at the same time";
  int noticed = 0;
  int held_back = 0;
  count_notices(results, &noticed, &held_back);
  EXPECT_GE(noticed, 1);
  EXPECT_EQ(noticed, connections) << "every notice sent was answered and reported";
  std::string requests;
  for (int i = 0; i < connections; ++i) requests += "request ZIVIDUZ demo gatherer\n";
  EXPECT_EQ(record.substr(counts.length()), requests);
  EXPECT_FALSE(lock_exists());
  std::printf("%d runs: %d notices given, %d held back by the lock, %d failed\n", kRuns, noticed, held_back,
              kRuns - noticed - held_back);
}

TEST_F(Notice, MissingInstallationIsReportedFromTheRegistry) {
  ASSERT_TRUE(install_.write_registry(lxt::RegistryKeys{}));
  const RunResult result = cyclerun({settings(base_settings())});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out.find("Content-Type: text/html\n\n" +
                            comment("QTRM109-E HKEY_LOCAL_MACHINE,SOFTWARE\\VELMORA\\Moxa3R\\0201/A\\PathName,Path00")),
            0u)
      << result.out;
  EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 31) << "one page only";
}

}  // namespace
