// The process-control programs as black boxes: the gatherer's launcher with a
// recording double as Perl, the daemon's starter and stopper with a recording
// double as exportd, and holders of the log files that stand for running
// processes.
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

#include "tests/programs/program_test.h"

namespace {

using lxt::Record;
using lxt::RunResult;
using std::chrono::milliseconds;

using lxt::literal;
using lxt::matches;

const std::string kStamp = std::string(lxt::kStampPattern) + ": ";


std::string last_line(const std::string& text) {
  std::string t = lxt::lf(text);
  if (!t.empty() && t.back() == '\n') t.pop_back();
  const std::size_t at = t.rfind('\n');
  return at == std::string::npos ? t : t.substr(at + 1);
}

// How the process-control programs say, after the file's name, that a
// settings file was saved as Unicode (a pattern).
std::string unicode_refusal(const std::string& encoding) {
  return "\\(It is saved as " + encoding + " with a byte-order mark; save it as ANSI \\(Shift_JIS\\)\\.\\)";
}

// Exit statuses as a caller of the program sees them (the low eight bits).
int status_of(int negative) { return negative & 0xFF; }

bool process_alive(long pid) {
  const std::string stat = lxt::read_file("/proc/" + std::to_string(pid) + "/stat");
  // A zombie has ended; it only waits for its parent.
  return !stat.empty() && !matches(stat, R"(^[0-9]+ \(.*\) Z )");
}

// A gatherer installation: home/ (KESTREL_HOME) with its gatherer g1, a data
// directory, and the registry without a Perl path unless a test sets one.
class Process : public lxt::ProgramTest {
 protected:
  void SetUp() override {
    for (const char* d : {"home", "home/bin", "home/lib", "home/lib/gatherer", "home/gatherers",
                          "home/gatherers/g1", "data"}) {
      dir_.mkdir(d);
    }
    registry("");
  }

  void registry(const std::string& env_info) {
    ASSERT_TRUE(install_.write_registry(lxt::RegistryKeys{.path00 = std::nullopt, .env_info = env_info}));
  }

  std::string home() const { return dir_.host("home"); }
  std::string gdir() const { return "home/gatherers/g1"; }
  std::string settings(const std::string& text) const {
    dir_.write("settings.ini", text);
    return dir_.host("settings.ini");
  }
  std::string base() const {
    return "KESTREL_HOME=" + home() + "\nGATHERER_NAME=g1\nGATHERER_DATA=" + dir_.host("data") +
           "\nGATHERER_PORT=8500\n";
  }
  // The framework's directory as it appears in a search path the programs built.
  std::string entry(const std::string& under_home) const {
    return lxt::is_wine() ? home() + "\\" + lxt::backslashed(under_home) : dir_.file("home/" + under_home);
  }
  std::string path_sep() const { return lxt::is_wine() ? ";" : ":"; }

  RunResult run(const std::string& name, const std::vector<std::string>& args, lxt::RunOptions options = {},
                const std::string& env_names = "") const {
    return run_program(name, args, std::move(options), env_names);
  }
};

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

// A log renamed, removed or made a link while its gatherer works keeps a
// second one out all the same, by the launcher at work in the directory (also
// one started through a link named LaunchCrawler.exe, whose process name the
// system cuts to "LaunchCrawler.e"); a stale pid file naming a live process
// that is no launcher keeps nothing out, whatever file a link in the log's
// place leads to; a FIFO as the log is never opened and starts nothing. A
// pid file that is a link is never read: the number it leads to is not told.
TEST_F(Crawler, AGathererAtWorkIsSeenWhateverBecameOfItsLog) {
  enum Names { kLauncherAtWork, kExeLauncherAtWork, kNoLauncher, kLinkedPidFile };
  enum Log { kRenamed, kRemoved, kNull, kFifo, kLinkToHeld, kHeld };
  struct Row {
    Names names;
    Log log;
    bool starts;
    std::string err;
  };
  const std::string running = "ERROR: The gatherer of process ID [0-9]+ is running\\.  ";
  const Row rows[] = {
      {kLauncherAtWork, kRenamed, false, running}, {kLauncherAtWork, kRemoved, false, running},
      {kLauncherAtWork, kNull, false, running},    {kExeLauncherAtWork, kRenamed, false, running},
      {kNoLauncher, kRemoved, true, ""},           {kNoLauncher, kNull, true, ""},
      {kNoLauncher, kLinkToHeld, true, ""},
      {kNoLauncher, kFifo, false, "ERROR: Cannot tell whether \\.\\\\log\\.gatherer is held open for writing: it is a FIFO"},
      {kLinkedPidFile, kHeld, false,
       "ERROR: A gatherer is running, but Gatherer\\.pid cannot be read \\(errno=13\\)\\.  Terminate the gatherer of "
       "process ID [0-9]+\\.\n$"},
  };
  const std::string path = settings(base());
  const std::string log = gdir() + "/log.gatherer";
  ::symlink(lxt::program("LaunchCrawler").c_str(), dir_.file("LaunchCrawler.exe").c_str());
  for (const Row& row : rows) {
    SCOPED_TRACE(&row - rows);
    // Windows keeps a file held open from being renamed or removed.
    if (lxt::is_wine() && !(row.names == kNoLauncher && row.log == kRemoved)) continue;
    for (const char* f : {"journal", "release", "holder.journal", "log.gatherer.1", "secret.pid"}) {
      ::unlink(dir_.file(f).c_str());
    }
    ::unlink(dir_.file(log).c_str());
    ::unlink(dir_.file(gdir() + "/Gatherer.pid").c_str());
    std::unique_ptr<lxt::Background> first;
    size_t scripts = 0;
    if (row.names == kLauncherAtWork || row.names == kExeLauncherAtWork) {
      lxt::RunOptions o;
      o.set("LXT_PERL_HOLD", "log.gatherer").set("LXT_PERL_UNTIL", dir_.host("release"));
      const std::string launcher = row.names == kLauncherAtWork ? lxt::program("LaunchCrawler") : dir_.file("LaunchCrawler.exe");
      first = std::make_unique<lxt::Background>(std::vector<std::string>{launcher, path}, in_test(o));
      ASSERT_TRUE(lxt::wait_until([&] { return journal().size() == 1; }, milliseconds(60000)));
      scripts = 1;
    } else {
      first = hold("holder.log", gdir() + "/Gatherer.pid");
    }
    if (row.log == kRenamed) ::rename(dir_.file(log).c_str(), dir_.file("log.gatherer.1").c_str());
    if (row.log != kRenamed) ::unlink(dir_.file(log).c_str());
    if (row.log == kNull) ::symlink("/dev/null", dir_.file(log).c_str());
    if (row.log == kFifo) ::mkfifo(dir_.file(log).c_str(), 0644);
    if (row.log == kLinkToHeld) ::symlink(dir_.file("holder.log").c_str(), dir_.file(log).c_str());
    if (row.log == kHeld) ::link(dir_.file("holder.log").c_str(), dir_.file(log).c_str());
    if (row.names == kLinkedPidFile) {
      // A number only root may read.
      ::rename(dir_.file(gdir() + "/Gatherer.pid").c_str(), dir_.file("secret.pid").c_str());
      ::chmod(dir_.file("secret.pid").c_str(), 0600);
      ::symlink(dir_.file("secret.pid").c_str(), dir_.file(gdir() + "/Gatherer.pid").c_str());
    }
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

  // A read-only pid file goes with the daemon all the same.
  ASSERT_EQ(::chmod(dir_.file("data/Exportd.pid").c_str(), 0444), 0);
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

// Only a process seen to be the daemon is ended. With the log held, a pid file
// naming another live process, no number (nor this test's group, everyone,
// init), a dead process or a process that started after it was written
// leaves the daemon unknown: nothing is ended or removed, exit 1. The pid file
// and the log are judged as entries: a link in either place is not followed
// (a log linked to the null device or to a file another process holds, a
// pid file linked to one with the daemon's number), and a device node as the
// log counts only for a process under the daemon's name.
TEST_F(Stop, OnlyTheDaemonHoldingTheLogIsEnded) {
  enum Names { kDaemon, kOther, kDead, kText, kLinkedPidFile };
  enum Log { kPlain, kNullLink, kNullNode, kLinkToHeld, kFifo };
  struct Row {
    Names names;
    std::string text;  // kText: the pid file's bytes
    bool backdated;    // the pid file last written before the daemon started
    Log log;
    bool ended;  // the daemon ended, exit 0, the pid file and work files gone
    std::string err;
    const char* runs_as = "exportd";  // the device holder's program name
  };
  const std::string unknown = "ERROR: Cannot tell which process holds exportd\\.log: Exportd\\.pid ";
  const std::string not_daemon = unknown + "names process [0-9]+, which is not the daemon: it ";
  const std::string no_number = unknown + "holds no process ID\\.  Nothing is stopped\\.\n$";
  const std::string linked_log =
      "ERROR: Cannot tell whether exportd\\.log is held open for writing: it is a symbolic link\\.  Nothing is "
      "stopped\\.\n$";
  const Row rows[] = {
      {kDaemon, "", false, kPlain, true, ""},
      {kOther, "", false, kPlain, false, not_daemon + "does not (hold the log open for writing|run the daemon's program)"},
      {kDead, "", false, kPlain, false, unknown + "names process [0-9]+, which is not running\\."},
      {kDaemon, "", true, kPlain, false, not_daemon + "started after the pid file was written"},
      {kText, "0", false, kPlain, false, no_number},   {kText, "-1", false, kPlain, false, no_number},
      {kText, "1", false, kPlain, false, no_number},   {kText, "", false, kPlain, false, no_number},
      {kText, "junk", false, kPlain, false, no_number}, {kText, "99999999999", false, kPlain, false, no_number},
      {kText, "2147483647", false, kPlain, false, unknown + "names process 2147483647, which is not running"},
      {kLinkedPidFile, "", false, kPlain, false,
       "ERROR: Exportd\\.pid is a symbolic link, which is not read\\.  The daemon is left running\\.\n$"},
      // Many processes hold the null device, any file may be another's.
      {kDaemon, "", false, kNullLink, false, linked_log},
      {kOther, "", false, kLinkToHeld, false, linked_log},
      {kDaemon, "", false, kNullNode, true, ""},
      {kDaemon, "", false, kNullNode, false,
       not_daemon + "does not hold the log open for writing under the daemon's name \\(the log is a device\\)", "sleep"},
      {kDaemon, "", false, kFifo, false, "ERROR: Cannot tell whether exportd\\.log is held open for writing: it is a FIFO"},
  };
  const std::string path = settings(base());
  dir_.mkdir("bin");
  ::symlink("/bin/sleep", dir_.file("bin/exportd").c_str());
  ::symlink("/bin/sleep", dir_.file("bin/sleep").c_str());
  for (const Row& row : rows) {
    SCOPED_TRACE(&row - rows);
    // Wine shows a POSIX link as the file it leads to (no reparse point).
    if ((row.log != kPlain || row.names == kLinkedPidFile) && lxt::is_wine()) continue;
    for (const char* f : {"release", "holder.journal", "data/exportd.log", "data/Exportd.pid", "other.pid", "real.pid"}) {
      ::unlink(dir_.file(f).c_str());
    }
    // Only root makes a device node.
    if (row.log == kNullNode && ::mknod(dir_.file("data/exportd.log").c_str(), S_IFCHR | 0666, ::makedev(1, 3)) != 0) {
      continue;
    }
    dir_.write("data/gathering.tmp", "");
    std::unique_ptr<lxt::Background> daemon, other;
    lxt::RunOptions here;
    here.cwd = dir_.path();
    if (row.log == kNullLink || row.log == kNullNode) {
      // The double opens plain files only; the shell holds the device as the daemon would.
      if (row.log == kNullLink) {
        ASSERT_EQ(::symlink("/dev/null", dir_.file("data/exportd.log").c_str()), 0);
      }
      daemon = std::make_unique<lxt::Background>(std::vector<std::string>{
          "/bin/sh", "-c", "exec 3>>data/exportd.log; echo $$ >Exportd.tmp; mv Exportd.tmp data/Exportd.pid; exec bin/" +
                               std::string(row.runs_as) + " 600"},
          here);
      ASSERT_TRUE(lxt::wait_for_file(dir_.file("data/Exportd.pid")));
    } else {
      daemon = hold(row.log == kPlain ? "data/exportd.log" : "data/other.log", "data/Exportd.pid", {}, true);
      if (row.log == kFifo) {
        ASSERT_EQ(::mkfifo(dir_.file("data/exportd.log").c_str(), 0644), 0);
      }
      if (row.log == kPlain) dir_.write("data/exportd.log", "line\n");
    }
    const std::string daemon_pid = lxt::lf(dir_.read("data/Exportd.pid"));
    if (row.names == kOther) {
      // It holds a file of its own for writing, which a linked log may lead to.
      other = std::make_unique<lxt::Background>(std::vector<std::string>{lxt::double_path("lxrecord")},
                                                lxt::RunOptions().set("LXT_PIDFILE", dir_.host("other.pid"))
                                                    .set("LXT_HOLD", dir_.host("other.held"))
                                                    .set("LXT_UNTIL", dir_.host("release")));
      ASSERT_TRUE(lxt::wait_for_file(dir_.file("other.pid")));
      dir_.write("data/Exportd.pid", dir_.read("other.pid"));
      if (row.log == kLinkToHeld) {
        ASSERT_EQ(::symlink("../other.held", dir_.file("data/exportd.log").c_str()), 0);
      }
    } else if (row.names == kDead) {
      lxt::run({lxt::double_path("lxrecord")}, lxt::RunOptions().set("LXT_PIDFILE", dir_.host("other.pid")));
      dir_.write("data/Exportd.pid", dir_.read("other.pid"));
    } else if (row.names == kText) {
      dir_.write("data/Exportd.pid", row.text);
    } else if (row.names == kLinkedPidFile) {
      ASSERT_EQ(::rename(dir_.file("data/Exportd.pid").c_str(), dir_.file("real.pid").c_str()), 0);
      ASSERT_EQ(::symlink("../real.pid", dir_.file("data/Exportd.pid").c_str()), 0);
    }
    if (row.backdated) {
      const timespec an_hour_ago[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
      ASSERT_EQ(::utimensat(AT_FDCWD, dir_.file("data/Exportd.pid").c_str(), an_hour_ago, 0), 0);
    }
    const std::string recorded = dir_.read("data/Exportd.pid");

    const RunResult r = stop({path, "FORCED"});
    EXPECT_EQ(r.status, row.ended ? 0 : 1);
    if (row.ended) {
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_TRUE(matches(r.err, prefix() + row.err)) << r.err;
    }
    EXPECT_EQ(daemon->wait(milliseconds(row.ended ? 30000 : 0)).has_value(), row.ended);
    EXPECT_EQ(dir_.exists("data/Exportd.pid"), !row.ended);
    if (!row.ended) {
      EXPECT_EQ(dir_.read("data/Exportd.pid"), recorded);
    }
    EXPECT_EQ(dir_.exists("data/gathering.tmp"), !row.ended);
    if (row.log == kPlain) {
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
