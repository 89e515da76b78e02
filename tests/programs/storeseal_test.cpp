// storeseal as a black box, with recording doubles for the framework's
// tools: its arguments, its steps in order and what each step's failure
// leaves.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/programs/program_test.h"
#include "tests/programs/seal_fixture.h"

namespace {

// The fixtures and helpers of the program tests.
using namespace lxt;

TEST_F(Seal, ArgumentsThatDoNotFitGiveTheUsageAndChangeNothing) {
  gathered(true);
  dir_.write("plain", "x");
  const std::string usage = "^storeseal: " + kStamp + ": Usage: storeseal.exe \\[--save-space\\] GathererIDString Directory\n$";
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const Case cases[] = {
      {{}, usage},
      {{"gid"}, usage},
      {{"a", "b", "c", "d"}, usage},
      {{"--save-spase", data()}, usage},
      // Spelled as the usage text spells it, it is no option.
      {{"--save-space", "gid", data()}, usage},
      {{"-save-spase", "gid", data()}, usage},
      {{"gid", dir_.host("plain")}, "^storeseal: " + kStamp + ": .*plain is not a directory\n$"},
      {{"gid", dir_.host("missing")}, "^storeseal: " + kStamp + ": .*missing is not a directory\n$"},
      // A final separator names a directory only.
      {{"gid", dir_.host("plain") + "\\"}, "^storeseal: " + kStamp + ": .*plain\\\\ is not a directory\n$"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const RunResult result = storeseal(c.args);
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(matches(result.err, c.err)) << result.err;
    EXPECT_EQ(result.out, "");
  }
  EXPECT_TRUE(programs().empty());
  EXPECT_EQ(dir_.read("data/WORKING.gdbm"), "working\n");
}

TEST_F(Seal, WithoutWorkingDatabaseNothingRuns) {
  dir_.write("data/PRODUCTION.gdbm", "production\n");
  const RunResult result = storeseal({"gid", data()});
  EXPECT_EQ(result.status, 1);
  EXPECT_TRUE(matches(result.err, "^storeseal: " + kStamp + ": ERROR: WORKING.gdbm is not present in the current directory.\n"
                                  "storeseal: " + kStamp + ": Perhaps your Gatherer did not generate a database.\n$"))
      << result.err;
  EXPECT_EQ(result.out, "storeseal: Using given directory: " + data() + "\n");
  EXPECT_TRUE(programs().empty());
  EXPECT_EQ(dir_.read("data/PRODUCTION.gdbm"), "production\n");
}

// storeseal starts its tools in the data directory, which the export
// daemon's user writes: a tool that another user could have put there is
// never run (the search goes on), one of the running user's own still is;
// run as root, a data directory another user can change is refused whole.
TEST_F(Seal, AToolPlantedInTheDataDirectoryByAnotherUserIsNeverRun) {
  if (lxt::is_wine()) GTEST_SKIP() << "Windows keeps its own search; its pages warn about such directories";
  if (::geteuid() != 0) GTEST_SKIP() << "only root can give a file to another user";
  const std::string marker = dir_.file("planted-ran");
  const std::string planted = dir_.file("data/storetidy");
  struct Case {
    const char* what;
    uid_t owner;
    mode_t data_mode;
    bool runs;
    bool refused;
  } cases[] = {
      {"another user's", 65534, 0755, false, false},
      {"in a directory writable for others", 0, 0777, false, true},
      {"the running user's own", 0, 0755, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::remove(dir_.file("journal").c_str());
    std::remove(marker.c_str());
    gathered(false);
    dir_.write("data/storetidy", "#!/bin/sh\necho ran > '" + marker + "'\n");
    ASSERT_EQ(::chmod(planted.c_str(), 0755), 0);
    ASSERT_EQ(::chown(planted.c_str(), c.owner, static_cast<gid_t>(-1)), 0);
    ASSERT_EQ(::chmod(dir_.file("data").c_str(), c.data_mode), 0);
    const RunResult result = storeseal({"gid", data()});
    EXPECT_EQ(dir_.exists("planted-ran"), c.runs);
    EXPECT_EQ(runs_of("storetidy").size(), c.runs || c.refused ? 0u : 1u);
    EXPECT_EQ(result.status, c.refused ? 1 : 0);
    if (c.refused) {
      EXPECT_TRUE(matches(result.err, "ERROR: The data directory " + data() + " is not used: " + data() +
                                          " \\(owner root, mode 0777\\) is writable for every user, so another user "
                                          "can change it\\.  Take the right to write there away: chmod go-w " +
                                          data() + "\\.\n$"))
          << result.err;
    }
  }
  ::chmod(dir_.file("data").c_str(), 0755);
}

// What storeseal is given, and what storejoin must be given then.
struct StepCase {
  std::vector<std::string> args;  // before the directory
  bool refresh;
  std::vector<std::string> join_args;
  std::string dir_end = "";  // after the directory's name
};

const StepCase kStepCases[] = {
    {{"gid"}, false, {"storeseal.gdbm", "WORKING.gdbm", "PRODUCTION.gdbm"}},
    // Final separators name the same directory.
    {{"gid"}, false, {"storeseal.gdbm", "WORKING.gdbm", "PRODUCTION.gdbm"}, "\\"},
    {{"gid"}, false, {"storeseal.gdbm", "WORKING.gdbm", "PRODUCTION.gdbm"}, "\\\\"},
    {{"--save-spase", "gid"}, true, {"--save-spase", "storeseal.gdbm", "WORKING.gdbm", "REFRESH.gdbm", "PRODUCTION.gdbm"}},
    // As the first of two arguments the usage text's spelling is a gatherer ID.
    {{"--save-space"}, false, {"storeseal.gdbm", "WORKING.gdbm", "PRODUCTION.gdbm"}},
    // The ID reaches the statistics script whole, a final backslash and a lone percent sign included.
    {{"my gatherer\\"}, false, {"storeseal.gdbm", "WORKING.gdbm", "PRODUCTION.gdbm"}},
    {{"100% gid"}, false, {"storeseal.gdbm", "WORKING.gdbm", "PRODUCTION.gdbm"}},
};

class Steps : public Seal {
 protected:
  // Each tool ran on the files it is for, in the data directory; args are
  // storeseal's.
  void check_tools(const StepCase& c, const std::vector<std::string>& args) const {
    const std::vector<Record> tidy = runs_of("storetidy");
    EXPECT_EQ(tidy[0].args, std::vector<std::string>{"WORKING.gdbm"});
    if (c.refresh) {
      EXPECT_EQ(tidy[1].args, std::vector<std::string>{"REFRESH.gdbm"});
    }

    const Record join = runs_of("storejoin").at(0);
    EXPECT_EQ(join.args, c.join_args);
    EXPECT_EQ(join.cwd, lxt::host_dir(dir_.file("data")));
    for (const char* name : {"WORKING.gdbm", "PRODUCTION.gdbm"}) EXPECT_TRUE(contains(join.files, name)) << name;
    EXPECT_EQ(contains(join.files, "REFRESH.gdbm"), c.refresh);
    EXPECT_FALSE(contains(join.files, "storeseal.gdbm"));

    const Record index = runs_of("keybuild").at(0);
    EXPECT_EQ(index.args, (std::vector<std::string>{"storeseal.gdbm", "INDEX.gdbm", "MD5.gdbm"}));
    EXPECT_TRUE(contains(index.files, "storeseal.gdbm"));
    EXPECT_FALSE(contains(index.files, "INDEX.gdbm"));
    EXPECT_FALSE(contains(index.files, "MD5.gdbm"));

    // packdump dumps the new production database; the gathered ones are gone by then.
    const Record dumped = runs_of("dbmtool").at(0);
    EXPECT_EQ(dumped.args, (std::vector<std::string>{"print", "-exportd", "PRODUCTION.gdbm"}));
    EXPECT_FALSE(contains(dumped.files, "WORKING.gdbm"));
    EXPECT_FALSE(contains(dumped.files, "REFRESH.gdbm"));
    EXPECT_FALSE(contains(dumped.files, "storeseal.gdbm"));

    const std::vector<Record> gzip = runs_of("gzip");
    EXPECT_EQ(gzip[0].args, std::vector<std::string>{"-V"});
    EXPECT_EQ(gzip[1].args, std::vector<std::string>{"-9cf"});
    EXPECT_EQ(gzip[2].args, std::vector<std::string>{"-V"});
    EXPECT_EQ(gzip[3].args, std::vector<std::string>{"-d"});
    // The dump and the statistics are made from files, each step's status seen.
    EXPECT_TRUE(contains(gzip[1].files, "packdump.out"));
    EXPECT_TRUE(contains(runs_of("perl").at(0).files, "storeseal.out"));
    EXPECT_EQ(runs_of("perl").at(0).args, (std::vector<std::string>{"-S", "crawlstats.pl", args[args.size() - 2]}));
  }

  // The new database is in place, and nothing of the run is left.
  void check_files() const {
    EXPECT_EQ(lxt::lf(dir_.read("data/PRODUCTION.gdbm")), "made by storejoin\n");
    for (const char* gone : {"WORKING.gdbm", "REFRESH.gdbm", "storeseal.gdbm", "packdump.out.gz", "INFO_J.txt",
                             "packdump.out", "packdump.lock", "storeseal.out", "storeseal.soif", "INDEX.gdbm.old"}) {
      EXPECT_FALSE(dir_.exists("data/" + std::string(gone))) << gone;
    }
    EXPECT_TRUE(dir_.exists("data/INFO.soif"));
  }
};

TEST_F(Steps, RunsTheStepsInOrderAndEachToolSeesItsFiles) {
  for (const StepCase& c : kStepCases) {
    SCOPED_TRACE(::testing::PrintToString(c.args) + " " + c.dir_end);
    SetUp();
    std::remove(dir_.file("journal").c_str());
    gathered(c.refresh);
    std::vector<std::string> args = c.args;
    args.push_back(data() + c.dir_end);
    const RunResult result = storeseal(args);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, progress_out(data() + c.dir_end));

    std::vector<std::string> expected{"storetidy"};
    if (c.refresh) expected.push_back("storetidy");
    expected.insert(expected.end(), {"storejoin", "keybuild", "gzip", "dbmtool", "gzip", "gzip", "gzip", "perl"});
    EXPECT_EQ(programs(), expected);

    check_tools(c, args);
    check_files();
  }
}

TEST_F(Seal, LogTwinsAndJapaneseStatisticsOnlyInProductStartMode) {
  struct Case {
    std::optional<std::string> mode;
    bool product;
  };
  const Case cases[] = {{"LX", true}, {"lx", false}, {"LX ", false}, {std::nullopt, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode.value_or("<unset>"));
    SetUp();
    std::remove(dir_.file("journal").c_str());
    std::remove(dir_.file("seal.log").c_str());
    std::remove(dir_.file("data/INFO_J.txt").c_str());
    gathered(false);
    dir_.write("seal.log", "earlier\n");
    lxt::RunOptions options;
    if (c.mode) options.set("LXG_STARTMODE", *c.mode);
    options.set("KESTREL_GATHERER_LOGFILE", dir_.host("seal.log"));
    const RunResult result = storeseal({"gid", data()}, options);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, progress_out(data()));
    std::string log = "earlier\n";
    if (c.product) {
      log += "storeseal: " + kStamp + ": Using given directory: " + std::regex_replace(data(), std::regex("[\\\\.]"), "\\$&") + "\n";
      for (const std::string& text : progress_texts(true)) {
        log += "storeseal: " + kStamp + ": " + std::regex_replace(text, std::regex("\\."), "\\.") + "\n";
      }
    }
    EXPECT_TRUE(std::regex_match(lxt::lf(dir_.read("seal.log")), std::regex(log))) << dir_.read("seal.log");
    const std::vector<Record> rendering = runs_of("ridOrizIdor");
    EXPECT_EQ(rendering.size(), c.product ? 1u : 0u);
    EXPECT_EQ(dir_.exists("data/INFO_J.txt"), c.product);
  }
  // A log that does not exist yet is made even when nothing goes into it.
  std::remove(dir_.file("seal.log").c_str());
  gathered(false);
  lxt::RunOptions options;
  options.set("KESTREL_GATHERER_LOGFILE", dir_.host("seal.log"));
  EXPECT_EQ(storeseal({"gid", data()}, options).status, 0);
  EXPECT_TRUE(dir_.exists("seal.log"));
  EXPECT_EQ(dir_.read("seal.log"), "");
}

TEST_F(Seal, WithoutUsableGzipTheStatisticsComeFromTheDatabase) {
  gathered(false);
  lxt::RunOptions options;
  options.set("LXT_GZIP_EXIT", "1");
  const RunResult result = storeseal({"gid", data()}, options);
  // packdump leaves the old dump; the statistics read the database, and the
  // run says that the dump is not the new one.
  EXPECT_EQ(result.status, 1);
  EXPECT_TRUE(matches(result.err, "^storeseal: " + kStamp + ": ERROR: The dump was not rebuilt \\(packdump.exe left "
                                  "All-Templates.gz as it was\\); the export daemon serves the dump of the previous "
                                  "database, and the statistics are made from PRODUCTION.gdbm.\n$"))
      << result.err;
  EXPECT_EQ(dir_.read("data/All-Templates.gz"), "old dump\n");
  const std::vector<Record> gzip = runs_of("gzip");
  ASSERT_EQ(gzip.size(), 1u);
  EXPECT_EQ(gzip[0].args, std::vector<std::string>{"-V"});
  const std::vector<Record> dumped = runs_of("dbmtool");
  ASSERT_EQ(dumped.size(), 1u);
  EXPECT_EQ(dumped[0].args, (std::vector<std::string>{"print", "-exportd", "PRODUCTION.gdbm"}));
  EXPECT_EQ(runs_of("perl").size(), 1u);
}

TEST_F(Seal, ConfiguredToolPathsAreUsedWithBackslashesAndQuotedWhenTheyHoldBlanks) {
  // The folder of the configured tools: plain, and with a blank (the line of
  // the gzip probe then begins with a quoted path).
  for (const std::string folder : {"gzip-tools", "my tools"}) {
    SCOPED_TRACE(folder);
    std::remove(dir_.file("journal").c_str());
    dir_.mkdir(folder);
    const std::string gzip = lxt::install_double("lxrecord", dir_.file(folder), "gzip");
    const std::string perl = lxt::install_double("lxrecord", dir_.file(folder), "perl");
    // Written with "/" separators, as an installer might.
    std::string gzip_slashes = lxt::host_path(gzip);
    std::replace(gzip_slashes.begin(), gzip_slashes.end(), '\\', '/');
    env_info_ = "\"GzipPath\"=" + lxt::reg_string(gzip_slashes) + "\n\"PerlPath\"=" +
                lxt::reg_string(lxt::host_path(perl)) + "\n";
    SetUp();
    gathered(false);
    const RunResult result = storeseal({"gid", data()});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    const std::vector<Record> gzip_runs = runs_of("gzip");
    ASSERT_EQ(gzip_runs.size(), 4u) << result.err;
    for (const Record& run : gzip_runs) EXPECT_EQ(run.argv0, lxt::backslashed(lxt::host_path(gzip)));
    EXPECT_EQ(runs_of("perl").at(0).argv0, lxt::backslashed(lxt::host_path(perl)));
  }
}

TEST_F(Seal, FailedConsolidationKeepsEveryDatabaseAndEndsTheRun) {
  struct Case {
    std::string name;
    std::vector<lxt::EnvChange> env;
    bool start_failure;
    std::string detail;
  };
  const Case cases[] = {
      {"status", {{"LXT_STOREJOIN_EXIT", "3"}}, false, "storejoin.exe returned 3"},
      {"partial output", {{"LXT_STOREJOIN_EXIT", "1"}}, false, "storejoin.exe returned 1"},
      {"no output", {{"LXT_STOREJOIN_CREATE", "other.gdbm"}}, false, "storejoin.exe left no file storeseal.gdbm"},
      {"missing", {}, true, "storejoin.exe was not found"},
      // Nothing joined from databases that hold templates.
      {"empty output", {{"LXT_STOREJOIN_EMPTY", "1"}}, false,
       "storejoin.exe left storeseal.gdbm empty, from databases that are not"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    std::remove(dir_.file("journal").c_str());
    gathered(true);
    // A database left by an earlier run cut short never passes for this run's.
    dir_.write("data/storeseal.gdbm", "stale\n");
    if (c.start_failure) std::remove((install_.tools_dir() + "/" + lxt::exe_name("storejoin")).c_str());
    lxt::RunOptions options;
    options.env = c.env;
    options.set("LXG_STARTMODE", "LX").set("KESTREL_GATHERER_LOGFILE", dir_.host("seal.log"));
    const RunResult result = storeseal({"gid", data()}, options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, progress_out(data(), false).substr(0, progress_out(data(), false).rfind("storeseal: Building")));
    const std::string error = "ERROR: Consolidating the databases failed \\(" + c.detail +
                              "\\); WORKING.gdbm, REFRESH.gdbm and PRODUCTION.gdbm are left as they were.\n";
    EXPECT_TRUE(matches(result.err, "storeseal: " + kStamp + ": " + error + "$")) << result.err;
    EXPECT_TRUE(matches(lxt::lf(dir_.read("seal.log")), "storeseal: " + kStamp + ": " + error + "$"));
    EXPECT_EQ(dir_.read("data/WORKING.gdbm"), "working\n");
    EXPECT_EQ(dir_.read("data/REFRESH.gdbm"), "refresh\n");
    EXPECT_EQ(dir_.read("data/PRODUCTION.gdbm"), "production\n");
    EXPECT_EQ(dir_.read("data/INDEX.gdbm"), "index\n");
    EXPECT_FALSE(dir_.exists("data/storeseal.gdbm"));
    const std::vector<std::string> ran = programs();
    EXPECT_FALSE(contains(ran, "keybuild"));
    EXPECT_FALSE(contains(ran, "gzip"));
  }
}

// What goes wrong in a run, the exit status, which of the files are new (the
// others old, byte for byte), and the error lines that say so.
struct FateRow {
  std::string name;
  std::string blocked;  // held by a reader without delete sharing (Wine) or a directory in its place
  std::vector<lxt::EnvChange> env;
  std::function<void()> setup;
  int status;
  std::set<std::string> fresh;
  std::vector<std::string> errors;  // whole lines, "ERROR: " ones with it
  bool native_only = false;
  bool wine_only = false;
};

const std::string kKept = "; PRODUCTION.gdbm, INDEX.gdbm, MD5.gdbm, WORKING.gdbm and REFRESH.gdbm are left as they were";
const std::string kOldDump = "The dump was not rebuilt \\((packdump.exe returned 1|packdump.exe left All-Templates.gz "
                             "as it was)\\); the export daemon serves the dump of the previous database, and the "
                             "statistics are made from PRODUCTION.gdbm";
// The sets of new files a row names.
const std::set<std::string> kDatabase{"PRODUCTION.gdbm", "INDEX.gdbm", "MD5.gdbm", "WORKING.gdbm"};
const std::set<std::string> kAll{"PRODUCTION.gdbm", "INDEX.gdbm",       "MD5.gdbm", "WORKING.gdbm",
                                 "All-Templates.gz", "INFO.soif", "INFO_J.txt"};
const std::set<std::string> kOldStatistics{"PRODUCTION.gdbm", "INDEX.gdbm", "MD5.gdbm", "WORKING.gdbm",
                                           "All-Templates.gz"};
const std::set<std::string> kStatistics{"PRODUCTION.gdbm", "INDEX.gdbm", "MD5.gdbm", "WORKING.gdbm",
                                        "All-Templates.gz", "INFO.soif"};
const std::set<std::string> kNoDump{"PRODUCTION.gdbm", "INDEX.gdbm", "MD5.gdbm", "WORKING.gdbm", "INFO.soif",
                                    "INFO_J.txt"};

class FileFates : public Seal {
 protected:
  void read_only(const char* name) const {
    std::filesystem::permissions(dir_.file(std::string("data/") + name), std::filesystem::perms::owner_read);
  }

  void run_rows(const std::vector<FateRow>& rows) {
    for (const FateRow& row : rows) {
      SCOPED_TRACE(row.name);
      if ((row.native_only && lxt::is_wine()) || (row.wine_only && !lxt::is_wine())) continue;
      std::unique_ptr<lxt::Background> reader = prepare(row);
      lxt::RunOptions options;
      options.set("LXG_STARTMODE", "LX");
      options.env.insert(options.env.end(), row.env.begin(), row.env.end());
      const RunResult result = storeseal({"gid", data()}, options);
      dir_.write("release", "");
      EXPECT_TRUE(!reader || reader->wait(std::chrono::seconds(30)).has_value());
      std::filesystem::remove(dir_.file("release"));
      std::filesystem::remove(dir_.file("reader.pid"));
      if (!row.blocked.empty()) std::filesystem::remove(dir_.file("data/" + row.blocked));
      check(row, result);
    }
  }

 private:
  // The gathered databases and the old files, with what the row changes;
  // the reader that holds a file, when the row blocks one under Wine.
  std::unique_ptr<lxt::Background> prepare(const FateRow& row) {
    SetUp();
    std::filesystem::remove_all(dir_.file("data/INDEX.gdbm.old"));
    std::filesystem::remove_all(dir_.file("data/storeseal.out"));
    std::filesystem::remove(dir_.file("once"));
    gathered(true);
    dir_.write("data/INFO_J.txt", "old rendering\n");
    if (row.setup) row.setup();
    if (!row.blocked.empty() && lxt::is_wine()) {
      lxt::RunOptions hold;
      hold.set("LXT_HOLD", dir_.host("data") + "\\" + row.blocked).set("LXT_UNTIL", dir_.host("release"));
      auto reader = std::make_unique<lxt::Background>(std::vector<std::string>{lxt::double_path("lxrecord")},
                                                      hold.set("LXT_PIDFILE", dir_.host("reader.pid")));
      EXPECT_TRUE(lxt::wait_for_file(dir_.file("reader.pid")));
      return reader;
    }
    if (!row.blocked.empty()) {
      std::filesystem::remove(dir_.file("data/" + row.blocked));
      dir_.mkdir("data/" + row.blocked);
    }
    return nullptr;
  }

  void check(const FateRow& row, const RunResult& result) const {
    const std::string stamp = "(storeseal|packdump): " + kStamp + ": ";
    std::string errors;
    for (const std::string& text : row.errors) errors += stamp + text + (text.ends_with(".") ? "\n" : "\\.\n");
    EXPECT_EQ(result.status, row.status) << result.err;
    EXPECT_TRUE(std::regex_match(lxt::lf(result.err), std::regex(errors))) << result.err;
    EXPECT_EQ(result.out.ends_with("Databases ready for export.\n"), row.status == 0);
    // Each file is the new one or the old one, byte for byte.
    const std::map<std::string, std::pair<std::string, std::string>> files{
        {"PRODUCTION.gdbm", {"production\n", "made by storejoin\n"}}, {"INDEX.gdbm", {"index\n", "made by keybuild\n"}},
        {"MD5.gdbm", {"md5\n", "made by keybuild\n"}},                {"All-Templates.gz", {"old dump\n", "compressed"}},
        {"INFO.soif", {"old info\n", "new info"}},                    {"INFO_J.txt", {"old rendering\n", "rendered"}}};
    for (const auto& [name, texts] : files) {
      if (name == row.blocked) continue;
      SCOPED_TRACE(name);
      EXPECT_EQ(lxt::lf(dir_.read("data/" + name)), row.fresh.contains(name) ? texts.second : texts.first);
    }
    // The gathered database is gone once the new database holds it.
    if (row.blocked != "WORKING.gdbm") {
      EXPECT_EQ(dir_.exists("data/WORKING.gdbm"), !row.fresh.contains("PRODUCTION.gdbm"));
    }
    for (const char* gone : {"storeseal.gdbm", "MD5.gdbm.old", "packdump.out.gz", "storeseal.txt", "storeseal.soif"}) {
      EXPECT_FALSE(dir_.exists("data/" + std::string(gone))) << gone;
    }
    EXPECT_EQ(dir_.exists("data/INDEX.gdbm.old"), row.name == "index aside a directory");
    // The run's record says how it ended.
    const std::string record = dir_.read("data/storeseal.outcome");
    EXPECT_TRUE(matches(record, "\nstatus=" + std::to_string(row.status) + "\n")) << record;
  }
};

// A step of the database's own finishing fails: every database is kept.
TEST_F(FileFates, AFailingDatabaseStepKeepsEveryDatabase) {
  run_rows({
      {"index fails", "", {{"LXT_KEYBUILD_EXIT", "5"}}, {}, 1, {},
       {"ERROR: Building the index failed \\(keybuild.exe returned 5\\)" + kKept}},
      {"production blocked", "PRODUCTION.gdbm", {}, {}, 1, {},
       {"ERROR: Cannot put storeseal.gdbm in the place of PRODUCTION.gdbm \\(errno=[0-9]+\\)" + kKept}},
      // A child that ends with 0 and writes nothing replaces no whole file.
      {"index empty", "", {{"LXT_KEYBUILD_EMPTY", "1"}}, {}, 1, {},
       {"ERROR: Building the index failed \\(keybuild.exe left INDEX.gdbm empty\\)" + kKept}},
      // A cleaning that empties the gathered database consolidates nothing.
      {"cleaning empties", "", {{"LXT_STORETIDY_CREATE", "WORKING.gdbm"}, {"LXT_STORETIDY_EMPTY", "1"}}, {}, 1, {},
       {"ERROR: Cleaning WORKING.gdbm failed \\(storetidy.exe left WORKING.gdbm empty, from a database that was "
        "not\\); nothing was consolidated, WORKING.gdbm, REFRESH.gdbm and PRODUCTION.gdbm are kept"}},
      // A gathered database that cannot be removed (held without delete sharing) is said to be joined again.
      {"gathered held", "WORKING.gdbm", {}, {}, 1, kAll,
       {"ERROR: Cannot remove WORKING.gdbm \\(errno=[0-9]+\\), nor rename it to WORKING.gdbm.joined \\(errno=[0-9]+\\); "
        "the next run would join it again"},
       false, true},
  });
}

// The dump, the statistics or their rendering fails: the new database
// stays, and each of those files is the old one, and said to be.
TEST_F(FileFates, AFailingDumpOrStatisticsLeavesTheOldFileAndSaysSo) {
  run_rows({
      {"dump blocked", "All-Templates.gz", {}, {}, 1, kNoDump,
       {"ERROR: Cannot put packdump.out.gz in the place of All-Templates.gz \\(errno=[0-9]+\\); All-Templates.gz is "
        "left as it was",
        "ERROR: " + kOldDump}},
      // packdump ends with 0 when its gzip probe fails: the dump is judged by the file.
      {"probe fails once", "", {{"LXT_GZIP_EXIT", "1"}, {"LXT_GZIP_ONCE", dir_.host("once")}}, {}, 1, kNoDump,
       {"ERROR: " + kOldDump}},
      // The words tell a missing program from a failing one, and an output that
      // cannot be written from both.
      {"perl missing", "", {},
       [this] {
         ASSERT_TRUE(install_.write_registry(lxt::RegistryKeys{
             .path00 = std::nullopt, .env_info = "\"PerlPath\"=" + lxt::reg_string(dir_.host("nowhere/perl")) + "\n"}));
       },
       1, kOldStatistics,
       {"ERROR: Generating the statistics failed \\(perl was not found\\); INFO.soif still holds the statistics of "
        "the previous database"}},
      {"statistics output blocked", "", {}, [this] { dir_.mkdir("data/storeseal.out/sub"); }, 1, kOldStatistics,
       {"ERROR: Generating the statistics failed \\(the output file storeseal.out could not be opened "
        "\\(errno=[0-9]+\\)\\); INFO.soif still holds the statistics of the previous database"}},
      {"statistics empty", "", {{"LXT_PERL_PRINT", ""}}, {}, 1, kOldStatistics,
       {"ERROR: Generating the statistics failed \\(perl left storeseal.soif empty\\); INFO.soif still holds the "
        "statistics of the previous database"}},
      // No templates read from a database that holds some: no empty dump and
      // no statistics of none.
      {"templates empty", "", {{"LXT_DBMTOOL_PRINT", ""}}, {}, 1, kDatabase,
       {"ERROR: Cannot build All-Templates.gz \\(dbmtool left packdump.out empty\\); All-Templates.gz is left "
        "as it was",
        "ERROR: " + kOldDump,
        "ERROR: Generating the statistics failed \\(dbmtool left storeseal.out empty\\); INFO.soif still holds "
        "the statistics of the previous database"}},
  });
}

TEST_F(FileFates, AFailingRenderingLeavesTheOldRenderingAndSaysSo) {
  run_rows({
      {"rendering empty", "", {{"LXT_RIDORIZIDOR_PRINT", ""}}, {}, 1, kStatistics,
       {"ERROR: Rendering the statistics in Japanese failed \\(ridOrizIdor left storeseal.txt empty\\); INFO_J.txt "
        "still holds the rendering of the previous statistics"}},
      {"rendering fails", "", {{"LXT_RIDORIZIDOR_EXIT", "1"}}, {}, 1, kStatistics,
       {"ERROR: Rendering the statistics in Japanese failed \\(ridOrizIdor returned 1\\); INFO_J.txt still holds the "
        "rendering of the previous statistics"}},
      {"rendering missing", "", {},
       [this] { std::filesystem::remove(install_.tools_dir() + "/" + lxt::exe_name("ridOrizIdor")); }, 1,
       kStatistics,
       {"ERROR: Rendering the statistics in Japanese failed \\(ridOrizIdor was not found\\); INFO_J.txt still holds "
        "the rendering of the previous statistics"}},
  });
}

// Read-only files and leftovers of earlier runs never keep a run from
// making every file new.
TEST_F(FileFates, ReadOnlyFilesAndLeftoversGoAndRefuseNothing) {
  run_rows({
      // Read-only files the run gives up or replaces go all the same (Windows refuses to remove them).
      {"read-only index and gathered database", "", {},
       [this] {
         read_only("INDEX.gdbm");
         read_only("MD5.gdbm");
         read_only("WORKING.gdbm");
       },
       0, kAll, {}},
      // An index aside of no use (the new database is in place) is removed, read-only or not.
      {"index aside left", "", {},
       [this] {
         dir_.write("data/INDEX.gdbm.old", "older\n");
         read_only("INDEX.gdbm.old");
       },
       0, kAll, {}},
      // One that cannot be removed is said and passed over: a leftover never
      // refuses a run (the old index goes as it would without an aside).
      {"index aside a directory", "", {}, [this] { dir_.mkdir("data/INDEX.gdbm.old/sub"); }, 0, kAll,
       {"Cannot remove INDEX.gdbm.old, left by an earlier run \\(errno=[0-9]+\\); it is passed over\\.",
        "Cannot move INDEX.gdbm aside to INDEX.gdbm.old \\(errno=[0-9]+\\); it is removed instead\\."}, true},
  });
}

}  // namespace
