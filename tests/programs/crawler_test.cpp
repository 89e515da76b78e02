// The gatherer's launcher as a black box, with a recording double as Perl.
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

// ---- LaunchCrawler ------------------------------------------------------------

class Crawler : public Process {
 protected:
  void SetUp() override {
    Process::SetUp();
    // Perl is found through the framework's bin directory the launcher puts first.
    lxt::install_double("lxrecord", dir_.file("home/bin"), "perl");
  }
  RunResult launch(const std::string& settings_path, lxt::RunOptions options = {}) const {
    return run("LaunchCrawler", {settings_path}, options, "PATH,KESTREL_HOME,GATHERER_NAME,GATHERER_DATA,GATHERER_PORT,OTHER");
  }
  std::string prefix() const { return "^LaunchCrawler: " + kStamp; }
};

TEST_F(Crawler, UnusableCommandLineOrSettingsEndWithOneAndStartNothing) {
  struct Case {
    std::vector<std::string> args;
    std::optional<std::string> settings;  // nullopt: no file
    std::string message;                  // after the prefix
  };
  const std::string path = dir_.host("settings.ini");
  std::vector<Case> cases = {
      {{}, "", "Usage: LaunchCrawler\\.exe ini_file\n$"},
      {{"a", "b"}, "", "Usage: LaunchCrawler\\.exe ini_file\n$"},
      {{path}, std::nullopt, "ERROR: Cannot open " + literal(path) + " \\(errno=2\\)\\.\n$"},
      {{path}, "", "ERROR: " + literal(path) + " is invalid\\.\n$"},
      {{path}, "KESTREL_HOME=" + home() + "\n", "ERROR: " + literal(path) + " is invalid\\.\n$"},
      {{path}, "GATHERER_NAME=g1\nKESTREL_HOME =" + home() + "\n", "ERROR: " + literal(path) + " is invalid\\.\n$"},
      {{path}, base() + "OTHER=\n", "ERROR: " + literal(path) + " is invalid\\.\n$"},
      {{path}, base() + "# comment\n\nno equals sign\n", "ERROR: " + literal(path) + " is invalid\\.\n$"},
  };
  // Saved as Unicode: refused whole, though the UTF-8 mark leaves base() whole.
  for (const auto& [text, encoding] : lxt::saved_as_unicode("OTHER=x\n" + base())) {
    cases.push_back({{path}, text, "ERROR: " + literal(path) + " is invalid\\.  " + unicode_refusal(encoding) + "\n$"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.settings.value_or("<no file>"));
    dir_.write("settings.ini", "");
    if (!c.settings) ::unlink(dir_.file("settings.ini").c_str());
    else dir_.write("settings.ini", *c.settings);
    const RunResult r = run("LaunchCrawler", c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(matches(r.err, prefix() + c.message)) << r.err;
    EXPECT_EQ(r.out, "");
  }
  EXPECT_TRUE(journal().empty());
}

TEST_F(Crawler, RunsTheScriptInTheGathererDirectoryWithTheSettingsInItsEnvironment) {
  for (const char* f : {"penum.pid", "cenum.pid"}) dir_.write(gdir() + "/" + f, "1");
  const std::string own_path = lxt::is_wine() ? "C:\\own" : "/own/bin:/usr/bin";
  const std::string path = settings("# the gatherer\n" + base() + "OTHER=first\nOTHER=a=b\nPATH=" + own_path + "\n");
  lxt::RunOptions o;
  o.set("LXT_PERL_EXIT", "7");
  const RunResult r = launch(path, o);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  const std::vector<Record> records = journal();
  ASSERT_EQ(records.size(), 1u);
  const Record& perl = records[0];
  EXPECT_EQ(perl.program, "perl");
  EXPECT_EQ(perl.args, (std::vector<std::string>{"-S", "Gatherer", "g1.cf"}));
  EXPECT_EQ(perl.cwd, lxt::host_dir(dir_.file(gdir())));
  EXPECT_EQ(perl.env.at("PATH"), entry("bin") + path_sep() + entry("lib/gatherer") + path_sep() + entry("lib") +
                                     path_sep() + own_path);
  EXPECT_EQ(perl.env.at("KESTREL_HOME"), home());
  EXPECT_EQ(perl.env.at("OTHER"), "a=b");
  for (const char* skipped : {"GATHERER_NAME", "GATHERER_DATA", "GATHERER_PORT"}) {
    EXPECT_EQ(perl.env.at(skipped), std::nullopt) << skipped;
  }
  for (const char* f : {"Gatherer.pid", "penum.pid", "cenum.pid"}) EXPECT_FALSE(dir_.exists(gdir() + "/" + f)) << f;
}

// Outside the window between one launcher's test and its script opening
// log.gatherer, a second launcher always sees the first: each round starts the
// second only once the first's script holds the log, and it must refuse every
// time.
TEST_F(Crawler, ASecondLauncherLeavesTheRunningOneAlone) {
  const std::string path = settings(base());
  lxt::RunOptions o;
  o.set("LXT_PERL_HOLD", "log.gatherer").set("LXT_PERL_UNTIL", dir_.host("release"));
  constexpr size_t kRounds = 4;
  for (size_t round = 1; round <= kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    lxt::Background first({lxt::program("LaunchCrawler"), path}, in_test(o));
    // The script's record is written after it has opened the log.
    ASSERT_TRUE(lxt::wait_until([&] { return journal().size() == round; }, milliseconds(60000)));
    dir_.write(gdir() + "/penum.pid", "p");
    const std::string recorded = lxt::lf(dir_.read(gdir() + "/Gatherer.pid"));
    ASSERT_TRUE(matches(recorded, "^[0-9]+\n$")) << recorded;
    const long first_pid = std::stol(recorded);
    if (!lxt::is_wine()) {
      EXPECT_EQ(first_pid, first.pid());
    }

    const RunResult second = launch(path);
    EXPECT_EQ(second.status, 0);
    std::smatch ids;
    ASSERT_TRUE(std::regex_search(second.err, ids,
                                  std::regex(prefix() + "ERROR: The gatherer of process ID ([0-9]+) is running\\.  "
                                                        "Terminate the gatherer of process ID ([0-9]+)\\.\n$")))
        << second.err;
    EXPECT_EQ(std::stol(ids.str(1)), first_pid);
    EXPECT_NE(ids.str(2), ids.str(1));
    EXPECT_EQ(journal().size(), round) << "no second script";
    EXPECT_EQ(lxt::lf(dir_.read(gdir() + "/Gatherer.pid")), recorded);
    EXPECT_TRUE(dir_.exists(gdir() + "/penum.pid"));

    // In the last round another launcher has claimed the directory meanwhile:
    // the first one's clean-up leaves that claim alone.
    if (round == kRounds) dir_.write(gdir() + "/Gatherer.pid", "4243\n");
    release();
    EXPECT_EQ(first.wait(milliseconds(60000)), 0);
    EXPECT_EQ(dir_.read(gdir() + "/Gatherer.pid"), round == kRounds ? "4243\n" : "");
    EXPECT_FALSE(dir_.exists(gdir() + "/penum.pid"));
    ASSERT_EQ(::unlink(dir_.file("release").c_str()), 0);
  }
}

TEST_F(Crawler, OnlyANonzeroPidFileWithAHeldLogKeepsTheScriptOut) {
  enum Log { kNoLog, kFreeLog, kHeldLog };
  struct Case {
    std::optional<std::string> pid_file;
    Log log;
    bool busy;
    std::string reported;  // the first id of the message
  };
  const Case cases[] = {
      {std::nullopt, kHeldLog, false, ""},  {"0\n", kHeldLog, false, ""},     {"  -0", kHeldLog, false, ""},
      {"4242\n", kNoLog, false, ""},        {"4242\n", kFreeLog, false, ""},  {"4242\n", kHeldLog, true, "4242"},
      {" -17 trailing", kHeldLog, true, "-17"},
      // A pid file without a number may be one a launcher has only just begun: the log decides.
      {"", kHeldLog, true, ""},             {"garbage", kHeldLog, true, ""},  {"garbage", kFreeLog, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pid_file.value_or("<none>") + " log " + std::to_string(c.log));
    ::unlink(dir_.file("journal").c_str());
    ::unlink(dir_.file("release").c_str());
    ::unlink(dir_.file("holder.journal").c_str());
    ::unlink(dir_.file(gdir() + "/log.gatherer").c_str());
    ::unlink(dir_.file(gdir() + "/Gatherer.pid").c_str());
    if (c.pid_file) dir_.write(gdir() + "/Gatherer.pid", *c.pid_file);
    if (c.log == kFreeLog) dir_.write(gdir() + "/log.gatherer", "old run\n");
    std::unique_ptr<lxt::Background> holder;
    if (c.log == kHeldLog) holder = hold(gdir() + "/log.gatherer");

    const RunResult r = launch(settings(base()));
    EXPECT_EQ(r.status, 0);
    if (c.busy) {
      EXPECT_TRUE(matches(r.err, c.reported.empty()
                                     ? "ERROR: A gatherer is running, but Gatherer\\.pid holds no process ID\\.  "
                                     : "ERROR: The gatherer of process ID " + c.reported + " is running\\.  "))
          << r.err;
      EXPECT_TRUE(journal().empty());
      EXPECT_EQ(dir_.read(gdir() + "/Gatherer.pid"), *c.pid_file) << "left as it was";
    } else {
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(journal().size(), 1u);
      EXPECT_FALSE(dir_.exists(gdir() + "/Gatherer.pid"));
    }
    release();
    if (holder) {
      EXPECT_EQ(holder->wait(milliseconds(60000)), 0);
    }
  }
}

enum class Names { kLauncherAtWork, kExeLauncherAtWork, kNoLauncher, kLinkedPidFile };
enum class Log { kRenamed, kRemoved, kNull, kFifo, kLinkToHeld, kHeld };

// Who the pid file names, what became of the log, and whether a second
// launcher starts a script then.
struct AtWorkRow {
  Names names;
  Log log;
  bool starts;
  std::string err;
};

std::vector<AtWorkRow> at_work_rows() {
  const std::string running = "ERROR: The gatherer of process ID [0-9]+ is running\\.  ";
  return {
      {Names::kLauncherAtWork, Log::kRenamed, false, running},
      {Names::kLauncherAtWork, Log::kRemoved, false, running},
      {Names::kLauncherAtWork, Log::kNull, false, running},
      {Names::kExeLauncherAtWork, Log::kRenamed, false, running},
      {Names::kNoLauncher, Log::kRemoved, true, ""},
      {Names::kNoLauncher, Log::kNull, true, ""},
      {Names::kNoLauncher, Log::kLinkToHeld, true, ""},
      {Names::kNoLauncher, Log::kFifo, false,
       "ERROR: Cannot tell whether \\.\\\\log\\.gatherer is held open for writing: it is a FIFO"},
      {Names::kLinkedPidFile, Log::kHeld, false,
       "ERROR: A gatherer is running, but Gatherer\\.pid cannot be read \\(errno=13\\)\\.  Terminate the gatherer of "
       "process ID [0-9]+\\.\n$"},
  };
}

class AtWork : public Crawler {
 protected:
  // The first launcher at work with its script, or a holder of another
  // file that the pid file names; *scripts, the scripts it started.
  std::unique_ptr<lxt::Background> start_first(const AtWorkRow& row, const std::string& path, size_t* scripts) const {
    for (const char* f : {"journal", "release", "holder.journal", "log.gatherer.1", "secret.pid"}) {
      ::unlink(dir_.file(f).c_str());
    }
    ::unlink(dir_.file(log()).c_str());
    ::unlink(dir_.file(gdir() + "/Gatherer.pid").c_str());
    *scripts = 0;
    if (row.names != Names::kLauncherAtWork && row.names != Names::kExeLauncherAtWork) {
      return hold("holder.log", gdir() + "/Gatherer.pid");
    }
    lxt::RunOptions o;
    o.set("LXT_PERL_HOLD", "log.gatherer").set("LXT_PERL_UNTIL", dir_.host("release"));
    const std::string launcher =
        row.names == Names::kLauncherAtWork ? lxt::program("LaunchCrawler") : dir_.file("LaunchCrawler.exe");
    auto first = std::make_unique<lxt::Background>(std::vector<std::string>{launcher, path}, in_test(o));
    EXPECT_TRUE(lxt::wait_until([&] { return journal().size() == 1; }, milliseconds(60000)));
    *scripts = 1;
    return first;
  }

  // What becomes of the log and the pid file in the row.
  void change_files(const AtWorkRow& row) const {
    const std::string at = dir_.file(log());
    if (row.log == Log::kRenamed) ::rename(at.c_str(), dir_.file("log.gatherer.1").c_str());
    if (row.log != Log::kRenamed) ::unlink(at.c_str());
    if (row.log == Log::kNull) ::symlink("/dev/null", at.c_str());
    if (row.log == Log::kFifo) ::mkfifo(at.c_str(), 0644);
    if (row.log == Log::kLinkToHeld) ::symlink(dir_.file("holder.log").c_str(), at.c_str());
    if (row.log == Log::kHeld) ::link(dir_.file("holder.log").c_str(), at.c_str());
    if (row.names == Names::kLinkedPidFile) {
      // A number only root may read.
      ::rename(dir_.file(gdir() + "/Gatherer.pid").c_str(), dir_.file("secret.pid").c_str());
      ::chmod(dir_.file("secret.pid").c_str(), 0600);
      ::symlink(dir_.file("secret.pid").c_str(), dir_.file(gdir() + "/Gatherer.pid").c_str());
    }
  }

  std::string log() const { return gdir() + "/log.gatherer"; }
};

// A log renamed, removed or made a link while its gatherer works keeps a
// second one out all the same, by the launcher at work in the directory (also
// one started through a link named LaunchCrawler.exe, whose process name the
// system cuts to "LaunchCrawler.e"); a stale pid file naming a live process
// that is no launcher keeps nothing out, whatever file a link in the log's
// place leads to; a FIFO as the log is never opened and starts nothing. A
// pid file that is a link is never read: the number it leads to is not told.
TEST_F(AtWork, AGathererAtWorkIsSeenWhateverBecameOfItsLog) {
  const std::string path = settings(base());
  ::symlink(lxt::program("LaunchCrawler").c_str(), dir_.file("LaunchCrawler.exe").c_str());
  const std::vector<AtWorkRow> rows = at_work_rows();
  for (const AtWorkRow& row : rows) {
    SCOPED_TRACE(&row - rows.data());
    // Windows keeps a file held open from being renamed or removed.
    if (lxt::is_wine() && !(row.names == Names::kNoLauncher && row.log == Log::kRemoved)) continue;
    size_t scripts = 0;
    const std::unique_ptr<lxt::Background> first = start_first(row, path, &scripts);
    change_files(row);
    const std::string recorded = dir_.read(gdir() + "/Gatherer.pid");
    const RunResult r = launch(path);
    EXPECT_EQ(r.status, 0);
    if (row.starts) {
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_TRUE(matches(r.err, prefix() + row.err)) << r.err;
      EXPECT_EQ(dir_.read(gdir() + "/Gatherer.pid"), recorded);
    }
    EXPECT_EQ(journal().size(), scripts + (row.starts ? 1 : 0));
    EXPECT_EQ(first->wait(milliseconds(0)), std::nullopt);
    release();
    EXPECT_EQ(first->wait(milliseconds(60000)), 0);
  }
}

TEST_F(Crawler, PerlPathFromTheRegistry) {
  dir_.mkdir("my tools");
  lxt::install_double("lxrecord", dir_.file("my tools"), "perl");
  const std::string with_blank = dir_.host("my tools") + lxt::host_sep() + lxt::exe_name("perl");
  const std::string missing = dir_.host("my tools") + lxt::host_sep() + "none";
  const std::string directory = dir_.host("my tools");
  struct Case {
    std::string value;
    std::string message;  // "" when the script runs
  };
  const Case cases[] = {
      {with_blank, ""},
      {missing, "ERROR: Cannot found PerlPath " + literal(lxt::backslashed(missing)) + "\\.\n$"},
      {directory, "ERROR: PerlPath " + literal(lxt::backslashed(directory)) +
                      " is a directory\\.  Specify the execute file name to PerlPath\\.\n$"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    ::unlink(dir_.file("journal").c_str());
    registry("\"PerlPath\"=" + lxt::reg_string(c.value) + "\n");
    dir_.write(gdir() + "/cenum.pid", "c");
    const RunResult r = launch(settings(base()));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "") << "no registry message";
    if (c.message.empty()) {
      EXPECT_EQ(r.err, "");
      ASSERT_EQ(journal().size(), 1u);
      EXPECT_EQ(journal()[0].args, (std::vector<std::string>{"-S", "Gatherer", "g1.cf"}));
    } else {
      EXPECT_TRUE(matches(r.err, prefix() + c.message)) << r.err;
      EXPECT_TRUE(journal().empty());
    }
    EXPECT_FALSE(dir_.exists(gdir() + "/cenum.pid"));
    EXPECT_FALSE(dir_.exists(gdir() + "/Gatherer.pid"));
  }
}

TEST_F(Crawler, APidFileThatCannotBeWrittenStartsNothingButClearsUp) {
  dir_.mkdir(gdir() + "/Gatherer.pid");
  dir_.write(gdir() + "/penum.pid", "p");
  const RunResult r = launch(settings(base()));
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(matches(r.err, prefix() + "ERROR: Cannot open Gatherer\\.pid \\(errno=[0-9]+\\)\\.\n$")) << r.err;
  EXPECT_TRUE(journal().empty());
  EXPECT_FALSE(dir_.exists(gdir() + "/penum.pid"));
}

TEST_F(Crawler, LongLinesArriveInPiecesAndALongCommandLineIsRefused) {
  // A line beyond 259 characters is read as pieces, each a line of its own.
  const std::string piece = "OTHER=" + std::string(253, 'x');
  RunResult r = launch(settings(base() + piece + "TAIL=t\n"), {});
  EXPECT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(journal().size(), 1u);
  EXPECT_EQ(journal()[0].env.at("OTHER"), std::string(253, 'x'));

  // A long Perl path and a long gatherer name do not fit the script's command
  // line: it is refused, never cut, and nothing is started.
  ::unlink(dir_.file("journal").c_str());
  std::string deep = "p";
  while (dir_.host(deep + "/perl").size() < 250) deep += "p";
  dir_.mkdir(deep);
  lxt::install_double("lxrecord", dir_.file(deep), "perl");
  registry("\"PerlPath\"=" + lxt::reg_string(dir_.host(deep) + lxt::host_sep() + lxt::exe_name("perl")) + "\n");
  const std::string name(259 - 14, 'n');
  dir_.mkdir("home/gatherers/" + name);
  r = launch(settings("KESTREL_HOME=" + home() + "\nGATHERER_NAME=" + name + "\n"));
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(matches(r.err, prefix() + "ERROR: The command line of the gatherer is longer than 503 characters\\.\n$"))
      << r.err;
  EXPECT_TRUE(journal().empty());
  EXPECT_FALSE(dir_.exists("home/gatherers/" + name + "/Gatherer.pid"));
}

}  // namespace
