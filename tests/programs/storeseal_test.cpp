// Database finishing, run as a black box: storeseal and packdump with
// recording doubles for the framework's tools, and with the stand-ins, real
// gzip and real Perl where a round trip matters.
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

namespace {

using lxt::Record;
using lxt::RunResult;

const std::vector<std::string> kDoubles{"storetidy", "storejoin", "keybuild", "dbmtool", "gzip", "perl", "ridOrizIdor"};

using lxt::matches;

const std::string kStamp = lxt::kStampPattern;

bool contains(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

std::vector<std::string> progress_texts(bool with_cache) {
  std::vector<std::string> texts{"Cleaning up the gathered templates...", "Consolidating databases...",
                                 "Building an index for the Gatherer..."};
  if (with_cache) {
    texts.insert(texts.end(), {"Building the exportd cache...", "Generating statistics of the database...",
                               "Databases ready for export."});
  }
  return texts;
}

// The progress lines on standard output for the directory, as many as ran.
std::string progress_out(const std::string& dir, bool whole = true) {
  std::string out = "storeseal: Using given directory: " + dir + "\n";
  for (const std::string& text : progress_texts(whole)) out += "storeseal: " + text + "\n";
  return out;
}

class Seal : public lxt::ProgramTest {
 protected:
  void SetUp() override {
    dir_.mkdir("data");
    install_.install_tools(kDoubles);
    // No tool paths configured: the plain names.
    ASSERT_TRUE(install_.write_registry(lxt::RegistryKeys{.path00 = std::nullopt, .env_info = env_info_}));
  }

  void gathered(bool with_refresh) {
    dir_.write("data/WORKING.gdbm", "working\n");
    if (with_refresh) dir_.write("data/REFRESH.gdbm", "refresh\n");
    dir_.write("data/PRODUCTION.gdbm", "production\n");
    dir_.write("data/INDEX.gdbm", "index\n");
    dir_.write("data/MD5.gdbm", "md5\n");
    dir_.write("data/All-Templates.gz", "old dump\n");
    dir_.write("data/INFO.soif", "old info\n");
  }

  // Runs storeseal with the doubles: storejoin makes its database.
  // runner: a program that storeseal runs under (its words before storeseal's path).
  RunResult storeseal(const std::vector<std::string>& args, lxt::RunOptions options = {},
                      std::vector<std::string> runner = {}) const {
    std::vector<lxt::EnvChange> env{{"LXT_LIST", "cwd"}};
    env.push_back({"LXT_STOREJOIN_CREATE", "storeseal.gdbm"});
    // The templates, the dump, the statistics and their rendering are never empty.
    env.push_back({"LXT_DBMTOOL_PRINT", "templates"});
    env.push_back({"LXT_GZIP_PRINT", "compressed"});
    env.push_back({"LXT_PERL_PRINT", "new info"});
    env.push_back({"LXT_RIDORIZIDOR_PRINT", "rendered"});
    env.push_back({"LXT_KEYBUILD_CREATE", "INDEX.gdbm,MD5.gdbm"});
    env.push_back({"LXG_STARTMODE", std::nullopt});
    env.push_back({"KESTREL_GATHERER_LOGFILE", std::nullopt});
    options.env.insert(options.env.begin(), env.begin(), env.end());
    options.search_dirs.push_back(install_.tools_dir());
    options.cwd = dir_.path();
    std::vector<std::string> argv = std::move(runner);
    argv.push_back(lxt::program("storeseal"));
    argv.insert(argv.end(), args.begin(), args.end());
    return run_argv(argv, options);
  }

  std::vector<Record> runs_of(const std::string& program) const {
    std::vector<Record> found;
    for (const Record& record : journal()) {
      if (record.program == program) found.push_back(record);
    }
    return found;
  }

  std::string data() const { return dir_.host("data"); }

  std::string env_info_;
};

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
// never run (the search goes on), one of the running user's own still is.
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
  } cases[] = {
      {"another user's", 65534, 0755, false},
      {"in a directory writable for others", 0, 0777, false},
      {"the running user's own", 0, 0755, true},
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
    storeseal({"gid", data()});
    EXPECT_EQ(dir_.exists("planted-ran"), c.runs);
    EXPECT_EQ(runs_of("storetidy").size(), c.runs ? 0u : 1u);
  }
  ::chmod(dir_.file("data").c_str(), 0755);
}

TEST_F(Seal, RunsTheStepsInOrderAndEachToolSeesItsFiles) {
  struct Case {
    std::vector<std::string> args;  // before the directory
    bool refresh;
    std::vector<std::string> join_args;
    std::string dir_end = "";  // after the directory's name
  };
  const Case cases[] = {
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
  for (const Case& c : cases) {
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

    EXPECT_EQ(lxt::lf(dir_.read("data/PRODUCTION.gdbm")), "made by storejoin\n");
    for (const char* gone : {"WORKING.gdbm", "REFRESH.gdbm", "storeseal.gdbm", "packdump.out.gz", "INFO_J.txt",
                             "packdump.out", "packdump.lock", "storeseal.out", "storeseal.soif", "INDEX.gdbm.old"}) {
      EXPECT_FALSE(dir_.exists("data/" + std::string(gone))) << gone;
    }
    EXPECT_TRUE(dir_.exists("data/INFO.soif"));
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

// Each row: what goes wrong, the exit status, which of the files are new
// (the others old, byte for byte), and the error lines that say so.
TEST_F(Seal, EveryFileIsOldOrNewAndTheWordsSayWhichAndWhy) {
  const std::string stamp = "(storeseal|packdump): " + kStamp + ": ";
  const std::string kept = "; PRODUCTION.gdbm, INDEX.gdbm, MD5.gdbm, WORKING.gdbm and REFRESH.gdbm are left as they were";
  const std::string old_dump = "The dump was not rebuilt \\((packdump.exe returned 1|packdump.exe left All-Templates.gz "
                               "as it was)\\); the export daemon serves the dump of the previous database, and the "
                               "statistics are made from PRODUCTION.gdbm";
  const std::set<std::string> database{"PRODUCTION.gdbm", "INDEX.gdbm", "MD5.gdbm", "WORKING.gdbm"};
  const std::set<std::string> all{"PRODUCTION.gdbm", "INDEX.gdbm", "MD5.gdbm", "WORKING.gdbm", "All-Templates.gz",
                                  "INFO.soif", "INFO_J.txt"};
  std::set<std::string> old_statistics = database;
  old_statistics.insert("All-Templates.gz");
  std::set<std::string> statistics = old_statistics;
  statistics.insert("INFO.soif");
  std::set<std::string> no_dump = database;
  no_dump.insert({"INFO.soif", "INFO_J.txt"});
  const auto read_only = [this](const char* name) {
    std::filesystem::permissions(dir_.file(std::string("data/") + name), std::filesystem::perms::owner_read);
  };
  struct Row {
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
  const Row rows[] = {
      {"index fails", "", {{"LXT_KEYBUILD_EXIT", "5"}}, {}, 1, {},
       {"ERROR: Building the index failed \\(keybuild.exe returned 5\\)" + kept}},
      {"production blocked", "PRODUCTION.gdbm", {}, {}, 1, {},
       {"ERROR: Cannot put storeseal.gdbm in the place of PRODUCTION.gdbm \\(errno=[0-9]+\\)" + kept}},
      {"dump blocked", "All-Templates.gz", {}, {}, 1, no_dump,
       {"ERROR: Cannot put packdump.out.gz in the place of All-Templates.gz \\(errno=[0-9]+\\); All-Templates.gz is "
        "left as it was",
        "ERROR: " + old_dump}},
      // packdump ends with 0 when its gzip probe fails: the dump is judged by the file.
      {"probe fails once", "", {{"LXT_GZIP_EXIT", "1"}, {"LXT_GZIP_ONCE", dir_.host("once")}}, {}, 1, no_dump,
       {"ERROR: " + old_dump}},
      // The words tell a missing program from a failing one, and an output that
      // cannot be written from both.
      {"perl missing", "", {},
       [this] {
         ASSERT_TRUE(install_.write_registry(lxt::RegistryKeys{
             .path00 = std::nullopt, .env_info = "\"PerlPath\"=" + lxt::reg_string(dir_.host("nowhere/perl")) + "\n"}));
       },
       1, old_statistics,
       {"ERROR: Generating the statistics failed \\(perl was not found\\); INFO.soif still holds the statistics of "
        "the previous database"}},
      {"statistics output blocked", "", {}, [this] { dir_.mkdir("data/storeseal.out/sub"); }, 1, old_statistics,
       {"ERROR: Generating the statistics failed \\(the output file storeseal.out could not be opened "
        "\\(errno=[0-9]+\\)\\); INFO.soif still holds the statistics of the previous database"}},
      // A child that ends with 0 and writes nothing replaces no whole file.
      {"index empty", "", {{"LXT_KEYBUILD_EMPTY", "1"}}, {}, 1, {},
       {"ERROR: Building the index failed \\(keybuild.exe left INDEX.gdbm empty\\)" + kept}},
      {"statistics empty", "", {{"LXT_PERL_PRINT", ""}}, {}, 1, old_statistics,
       {"ERROR: Generating the statistics failed \\(perl left storeseal.soif empty\\); INFO.soif still holds the "
        "statistics of the previous database"}},
      {"rendering empty", "", {{"LXT_RIDORIZIDOR_PRINT", ""}}, {}, 1, statistics,
       {"ERROR: Rendering the statistics in Japanese failed \\(ridOrizIdor left storeseal.txt empty\\); INFO_J.txt "
        "still holds the rendering of the previous statistics"}},
      {"rendering fails", "", {{"LXT_RIDORIZIDOR_EXIT", "1"}}, {}, 1, statistics,
       {"ERROR: Rendering the statistics in Japanese failed \\(ridOrizIdor returned 1\\); INFO_J.txt still holds the "
        "rendering of the previous statistics"}},
      {"rendering missing", "", {}, [this] { std::filesystem::remove(install_.tools_dir() + "/" + lxt::exe_name("ridOrizIdor")); },
       1, statistics,
       {"ERROR: Rendering the statistics in Japanese failed \\(ridOrizIdor was not found\\); INFO_J.txt still holds "
        "the rendering of the previous statistics"}},
      // Read-only files the run gives up or replaces go all the same (Windows refuses to remove them).
      {"read-only index and gathered database", "", {}, [&] { read_only("INDEX.gdbm"); read_only("MD5.gdbm"); read_only("WORKING.gdbm"); },
       0, all, {}},
      // An index aside of no use (the new database is in place) is removed, read-only or not.
      {"index aside left", "", {}, [&] { dir_.write("data/INDEX.gdbm.old", "older\n"); read_only("INDEX.gdbm.old"); },
       0, all, {}},
      // One that cannot be removed is said and passed over: a leftover never
      // refuses a run (the old index goes as it would without an aside).
      {"index aside a directory", "", {}, [this] { dir_.mkdir("data/INDEX.gdbm.old/sub"); }, 0, all,
       {"Cannot remove INDEX.gdbm.old, left by an earlier run \\(errno=[0-9]+\\); it is passed over\\.",
        "Cannot move INDEX.gdbm aside to INDEX.gdbm.old \\(errno=[0-9]+\\); it is removed instead\\."}, true},
      // A cleaning that empties the gathered database consolidates nothing.
      {"cleaning empties", "", {{"LXT_STORETIDY_CREATE", "WORKING.gdbm"}, {"LXT_STORETIDY_EMPTY", "1"}}, {}, 1, {},
       {"ERROR: Cleaning WORKING.gdbm failed \\(storetidy.exe left WORKING.gdbm empty, from a database that was "
        "not\\); nothing was consolidated, WORKING.gdbm, REFRESH.gdbm and PRODUCTION.gdbm are kept"}},
      // No templates read from a database that holds some: no empty dump and
      // no statistics of none.
      {"templates empty", "", {{"LXT_DBMTOOL_PRINT", ""}}, {}, 1, database,
       {"ERROR: Cannot build All-Templates.gz \\(dbmtool left packdump.out empty\\); All-Templates.gz is left "
        "as it was",
        "ERROR: " + old_dump,
        "ERROR: Generating the statistics failed \\(dbmtool left storeseal.out empty\\); INFO.soif still holds "
        "the statistics of the previous database"}},
      // A gathered database that cannot be removed (held without delete sharing) is said to be joined again.
      {"gathered held", "WORKING.gdbm", {}, {}, 1, all,
       {"ERROR: Cannot remove WORKING.gdbm \\(errno=[0-9]+\\), nor rename it to WORKING.gdbm.joined \\(errno=[0-9]+\\); "
        "the next run would join it again"},
       false, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if ((row.native_only && lxt::is_wine()) || (row.wine_only && !lxt::is_wine())) continue;
    SetUp();
    std::filesystem::remove_all(dir_.file("data/INDEX.gdbm.old"));
    std::filesystem::remove_all(dir_.file("data/storeseal.out"));
    std::filesystem::remove(dir_.file("once"));
    gathered(true);
    dir_.write("data/INFO_J.txt", "old rendering\n");
    if (row.setup) row.setup();
    std::unique_ptr<lxt::Background> reader;
    if (!row.blocked.empty() && lxt::is_wine()) {
      lxt::RunOptions hold;
      hold.set("LXT_HOLD", dir_.host("data") + "\\" + row.blocked).set("LXT_UNTIL", dir_.host("release"));
      reader = std::make_unique<lxt::Background>(std::vector<std::string>{lxt::double_path("lxrecord")},
                                                 hold.set("LXT_PIDFILE", dir_.host("reader.pid")));
      ASSERT_TRUE(lxt::wait_for_file(dir_.file("reader.pid")));
    } else if (!row.blocked.empty()) {
      std::filesystem::remove(dir_.file("data/" + row.blocked));
      dir_.mkdir("data/" + row.blocked);
    }
    lxt::RunOptions options;
    options.set("LXG_STARTMODE", "LX");
    options.env.insert(options.env.end(), row.env.begin(), row.env.end());
    const RunResult result = storeseal({"gid", data()}, options);
    dir_.write("release", "");
    EXPECT_TRUE(!reader || reader->wait(std::chrono::seconds(30)).has_value());
    std::filesystem::remove(dir_.file("release"));
    std::filesystem::remove(dir_.file("reader.pid"));
    if (!row.blocked.empty()) std::filesystem::remove(dir_.file("data/" + row.blocked));
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
}

// Once the production database holds the gathered templates, a gathered
// database left in place would be joined again by the next run, and bring
// back templates that the cycle's expiry removed.
TEST_F(Seal, AGatheredDatabaseThatCannotBeRemovedGoesWhereNoRunJoinsIt) {
  if (lxt::is_wine()) GTEST_SKIP() << "the failing removal is dealt by the POSIX port's test mode";
  struct Row {
    bool aside_free;  // no directory in the way of the name no run joins
    int status;
    std::string err;
  };
  const Row rows[] = {
      {true, 0, "^storeseal: " + kStamp + ": Cannot remove WORKING.gdbm \\(errno=13\\); it is kept as "
                "WORKING.gdbm.joined, which no run joins.\n$"},
      {false, 1, "^storeseal: " + kStamp + ": ERROR: Cannot remove WORKING.gdbm \\(errno=13\\), nor rename it to "
                 "WORKING.gdbm.joined \\(errno=[0-9]+\\); the next run would join it again.\n$"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.aside_free ? "aside free" : "aside blocked");
    // The removals before it are few: walk to the one of WORKING.gdbm.
    bool met = false;
    for (int n = 1; n <= 40 && !met; ++n) {
      gathered(false);
      std::filesystem::remove_all(dir_.file("data/WORKING.gdbm.joined"));
      if (!row.aside_free) dir_.mkdir("data/WORKING.gdbm.joined/sub");
      lxt::RunOptions options;
      options.set("LORVEX_TEST_FAULT_INJECTION", "unlink:" + std::to_string(n) + ":EACCES");
      const RunResult result = storeseal({"gid", data()}, options);
      met = result.err.find("Cannot remove WORKING.gdbm (") != std::string::npos;
      if (!met) continue;
      EXPECT_EQ(result.status, row.status);
      EXPECT_TRUE(matches(result.err, row.err)) << result.err;
      EXPECT_EQ(result.out.ends_with("storeseal: Databases ready for export.\n"), row.status == 0);
      EXPECT_EQ(dir_.read("data/PRODUCTION.gdbm"), "made by storejoin\n");
      EXPECT_EQ(dir_.exists("data/WORKING.gdbm"), !row.aside_free);
      if (row.aside_free) {
        EXPECT_EQ(dir_.read("data/WORKING.gdbm.joined"), "working\n");
      }
    }
    EXPECT_TRUE(met);
  }
}

// A power cut must never find a name leading to data that is not on the
// disk while the last other copy of it is gone: each file a child made is
// flushed after its last write and before that copy goes, and the directory
// after its names change. Traced natively, calls of every process in order.
TEST_F(Seal, EachFileIsOnTheDiskBeforeItsLastOtherCopyGoes) {
  if (lxt::is_wine()) GTEST_SKIP() << "the calls are traced natively";
  if (std::system("strace -qq -o /dev/null /bin/true 2>/dev/null") != 0) GTEST_SKIP() << "strace cannot trace here";
  gathered(false);
  dir_.write("data/INFO_J.txt", "old rendering\n");
  const std::string trace = dir_.file("trace");
  lxt::RunOptions options;
  options.set("LXG_STARTMODE", "LX").set("LXT_PERL_PRINT", "new info").set("LXT_RIDORIZIDOR_PRINT", "rendered");
  // The leak checker cannot work under a tracer.
  options.set("LXT_GZIP_PRINT", "compressed").set("ASAN_OPTIONS", "detect_leaks=0");
  const RunResult result = storeseal({"gid", data()}, options,
                                     {"/usr/bin/strace", "-f", "-qq", "-y", "-o", trace, "-e",
                                      "trace=write,fsync,fdatasync,rename,renameat,renameat2,unlink,unlinkat"});
  ASSERT_EQ(result.status, 0) << result.err;
  std::vector<std::string> calls;
  std::istringstream lines(lxt::read_file(trace));
  for (std::string line; std::getline(lines, line);) calls.push_back(line);
  // The position of the last (or first) call that matches, -1 for none.
  const auto find = [&](const std::string& pattern, bool last) {
    const std::regex wanted(pattern);
    int found = -1;
    for (int i = 0; i < static_cast<int>(calls.size()); ++i) {
      if (!std::regex_search(calls[i], wanted)) continue;
      found = i;
      if (!last) break;
    }
    return found;
  };
  struct Row {
    std::string made;  // the file as the child wrote it
    std::string gone;  // the call after which the last other copy is gone
  };
  const Row rows[] = {
      {"INDEX.gdbm", "unlink(at)?\\(.*\"INDEX\\.gdbm\\.old\""},
      {"MD5.gdbm", "unlink(at)?\\(.*\"MD5\\.gdbm\\.old\""},
      // The new database replaces the old one, then the gathered one goes.
      {"storeseal.gdbm", "rename(at2?)?\\(.*\"storeseal\\.gdbm\".*\"PRODUCTION\\.gdbm\""},
      {"storeseal.gdbm", "unlink(at)?\\(.*\"WORKING\\.gdbm\""},
      {"storeseal.soif", "rename(at2?)?\\(.*\"storeseal\\.soif\".*\"INFO\\.soif\""},
      {"storeseal.txt", "rename(at2?)?\\(.*\"storeseal\\.txt\".*\"INFO_J\\.txt\""},
      {"packdump.out.gz", "rename(at2?)?\\(.*\"packdump\\.out\\.gz\".*\"All-Templates\\.gz\""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.made + " before " + row.gone);
    const std::string name = std::regex_replace(row.made, std::regex("\\."), "\\.");
    const int written = find("^[0-9]+ +write\\([0-9]+<[^>]*/data/" + name + ">", true);
    const int gone = find(row.gone, false);
    ASSERT_GE(written, 0);
    ASSERT_GT(gone, written);
    bool flushed = false;
    for (int i = written + 1; i < gone && !flushed; ++i) {
      flushed = std::regex_search(calls[i], std::regex("f(data)?sync\\([0-9]+<[^>]*/data/" + name + ">"));
    }
    EXPECT_TRUE(flushed);
  }
  // The directory, after the gathered database's name went.
  EXPECT_GT(find("fsync\\([0-9]+<[^>]*/data>\\)", true), find("unlink(at)?\\(.*\"WORKING\\.gdbm\"", false));
}

// Started with standard output and error closed, the program must not hand
// their numbers to its lock file and its log: its own lines and its
// children's would land in them.
TEST_F(Seal, WithoutStandardStreamsTheLogGetsItsOwnLinesOnly) {
  if (lxt::is_wine()) GTEST_SKIP() << "the streams are closed by a POSIX shell";
  gathered(false);
  lxt::RunOptions options;
  options.set("LXG_STARTMODE", "LX").set("KESTREL_GATHERER_LOGFILE", dir_.host("seal.log"));
  options.set("LXT_KEYBUILD_EXIT", "5");
  const RunResult result =
      storeseal({"gid", data()}, options, {"/bin/sh", "-c", "exec \"$0\" \"$@\" >&- 2>&-"});
  EXPECT_EQ(result.status, 1);
  // Each line once: the error's twin, never the error line itself as well.
  const std::string log = lxt::lf(dir_.read("seal.log"));
  const std::string line = "storeseal: " + kStamp + ": ";
  EXPECT_TRUE(std::regex_match(log, std::regex(line + "Using given directory: [^\n]*\n(" + line + "[A-Z][^\n]*\\.\\.\\.\n){3}" +
                                               line + "ERROR: Building the index failed [^\n]*\n")))
      << log;
  EXPECT_FALSE(dir_.exists("data/storeseal.lock"));
  EXPECT_EQ(dir_.read("data/PRODUCTION.gdbm"), "production\n");
}

TEST_F(Seal, LinesThatCannotBeComposedAreRefusedBeforeAnythingIsTouched) {
  const std::string long_id(760, 'g');
  const std::string prefix = "^storeseal: " + kStamp + ": ERROR: ";
  const std::string unchanged = "; nothing was changed.\n$";
  struct Case {
    std::string id;
    std::string err;
    std::string closed = "";  // an entry that the other user it then runs as may not use (mode 0600, root's)
  };
  const Case cases[] = {
      {long_id, prefix + "The gatherer ID and the Perl and gzip paths make a command line longer than 779 bytes.\n$"},
      {"g\"id", prefix + "The gatherer ID holds a double quote; no command line can carry it.\n$"},
      {"a%FOO%b", prefix + "The gatherer ID holds percent signs that the command interpreter would expand; no command "
                           "line can carry it.\n$"},
      {"gid", prefix + "Cannot change into " + data() + " \\(errno=13\\)" + unchanged, "data"},
      {"gid", prefix + "REFRESH.gdbm cannot be read \\(errno=13\\)" + unchanged, "data/REFRESH.gdbm"},
  };
  for (const std::string& open : {dir_.path(), install_.tools_dir(), dir_.file("data")}) {
    std::filesystem::permissions(open, std::filesystem::perms::all);
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id.substr(0, 10) + " " + c.closed);
    // Wine's own splitting of our argv; a Wine run as another user.
    if (lxt::is_wine() && (c.id.find('"') != std::string::npos || !c.closed.empty())) continue;
    gathered(true);
    // Nor is the folder it is started in finished in the data directory's stead.
    dir_.write("WORKING.gdbm", "working\n");
    std::vector<std::string> runner;
    if (!c.closed.empty()) {
      std::filesystem::permissions(dir_.file(c.closed), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
      runner = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    }
    lxt::RunOptions options;
    options.set("LXG_STARTMODE", "LX").set("KESTREL_GATHERER_LOGFILE", dir_.host("seal.log"));
    const RunResult result = storeseal({c.id, data()}, options, runner);
    if (!c.closed.empty()) std::filesystem::permissions(dir_.file(c.closed), std::filesystem::perms::all);
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(matches(result.err, c.err)) << result.err;
    EXPECT_TRUE(programs().empty());
    EXPECT_EQ(dir_.read("data/WORKING.gdbm") + dir_.read("data/REFRESH.gdbm") + dir_.read("WORKING.gdbm"),
              "working\nrefresh\nworking\n");
    EXPECT_FALSE(dir_.exists("seal.log"));
  }
  // The longest ID that fits still runs.
  gathered(false);
  const RunResult fits = storeseal({std::string(200, 'g'), data()});
  EXPECT_EQ(fits.status, 0) << fits.err;
}

// ---- packdump ----------------------------------------------------------------

TEST_F(Seal, PackdumpReplacesTheDumpOnlyWithAWholeNewOne) {
  struct Case {
    std::string name;
    std::vector<lxt::EnvChange> env;
    bool production;
    int status;
    std::string dump;  // All-Templates.gz afterwards
    std::string err;
  };
  const std::string kept = "; All-Templates.gz is left as it was.\n$";
  const Case cases[] = {
      {"no database", {}, false, 1, "old dump\n", "^packdump: " + kStamp + ": ERROR: Cannot read PRODUCTION.gdbm.\n$"},
      {"no gzip", {{"LXT_GZIP_EXIT", "9009"}}, true, 0, "old dump\n", "^$"},
      // The interpreter cannot write the new dump where a directory is in the way
      // (Wine's reports no failure: the directory is then no dump either).
      {"failing gzip", {}, true, 1, "old dump\n",
       "packdump: " + kStamp +
           ": ERROR: Cannot build All-Templates.gz \\(the output file packdump.out.gz could not be opened "
           "\\(errno=[0-9]+\\)\\)" + kept},
      // A dbmtool that fails is seen, whatever the gzip after it returns.
      {"failing dbmtool", {{"LXT_DBMTOOL_PRINT", "part"}, {"LXT_DBMTOOL_EXIT", "1"}, {"LXT_GZIP_PRINT", "x"}}, true, 1,
       "old dump\n", "^packdump: " + kStamp + ": ERROR: Cannot build All-Templates.gz \\(dbmtool returned 1\\)" + kept},
      {"new dump", {{"LXT_GZIP_PRINT", "compressed"}}, true, 0, "compressed", "^$"},
      {"empty dump", {}, true, 1, "old dump\n",
       "^packdump: " + kStamp + ": ERROR: Cannot build All-Templates.gz \\(gzip left packdump.out.gz empty\\)" + kept},
      // Not "returned" what the interpreter says of a program it cannot find.
      {"missing dbmtool", {}, true, 1, "old dump\n",
       "^packdump: " + kStamp + ": ERROR: Cannot build All-Templates.gz \\(dbmtool was not found\\)" + kept},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dir_.write("data/All-Templates.gz", "old dump\n");
    // A leftover of an earlier run is overwritten, never taken for the new dump.
    std::filesystem::remove_all(dir_.file("data/packdump.out.gz"));
    if (c.name == "failing gzip") {
      dir_.mkdir("data/packdump.out.gz");
    } else {
      dir_.write("data/packdump.out.gz", "leftover");
    }
    std::remove(dir_.file("data/PRODUCTION.gdbm").c_str());
    if (c.production) dir_.write("data/PRODUCTION.gdbm", "production\n");
    lxt::RunOptions options;
    options.env = {{"LXT_DBMTOOL_PRINT", "templates"}};
    options.env.insert(options.env.end(), c.env.begin(), c.env.end());
    options.cwd = dir_.file("data");
    options.search_dirs.push_back(install_.tools_dir());
    if (c.name == "missing dbmtool") std::filesystem::remove(install_.tools_dir() + "/" + lxt::exe_name("dbmtool"));
    const RunResult result = run_program("packdump", {"ignored", "arguments"}, options);
    install_.install_tools(kDoubles);
    EXPECT_EQ(result.status, c.status);
    EXPECT_TRUE(matches(lxt::lf(result.err), c.err)) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(dir_.read("data/All-Templates.gz"), c.dump);
    if (c.name == "new dump") {
      EXPECT_FALSE(dir_.exists("data/packdump.out.gz"));
    }
    EXPECT_FALSE(dir_.exists("data/packdump.out"));
  }
}

// One run at a time in a directory: a second one refuses while the first,
// or the children of a first that was killed, are at work.
TEST_F(Seal, ASecondRunInTheDirectoryRefusesWhileTheFirstOrItsChildrenAreAtWork) {
  const struct {
    const char* program;
    const char* child;  // the first run's child that goes on until released
    bool kill_first;
    std::string left;
  } rows[] = {
      {"packdump", "dbmtool", false, "All-Templates.gz is left to it."},
      {"packdump", "dbmtool", true, "All-Templates.gz is left to it."},
      {"storeseal", "storetidy", false, "nothing was changed."},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.program) + (row.kill_first ? " killed" : ""));
    if (row.kill_first && lxt::is_wine()) continue;  // Wine's process is not the program's own
    gathered(false);
    std::remove(dir_.file("release").c_str());
    std::remove(dir_.file("pid").c_str());
    const std::string upper = row.child == std::string("dbmtool") ? "DBMTOOL" : "STORETIDY";
    lxt::RunOptions options;
    options.env = lxt::journal_env(dir_.file("journal"));
    options.set("LXT_GZIP_PRINT", "compressed").set("LXT_STOREJOIN_CREATE", "storeseal.gdbm");
    options.set("LXT_PERL_PRINT", "new info").set("LXT_DBMTOOL_PRINT", "templates");
    options.set("LXT_KEYBUILD_CREATE", "INDEX.gdbm,MD5.gdbm");
    options.cwd = dir_.file("data");
    options.search_dirs.push_back(install_.tools_dir());
    const std::vector<std::string> argv = row.program == std::string("packdump")
        ? std::vector<std::string>{lxt::program("packdump")}
        : std::vector<std::string>{lxt::program("storeseal"), "gid", data()};
    lxt::RunOptions first = options;
    lxt::Background holder(argv, first.set("LXT_" + upper + "_PIDFILE", dir_.host("pid"))
                                     .set("LXT_" + upper + "_UNTIL", dir_.host("release")));
    ASSERT_TRUE(lxt::wait_for_file(dir_.file("pid")));
    if (row.kill_first) holder.signal(SIGKILL);  // the program alone, not its children
    const RunResult second = lxt::run(argv, options);
    dir_.write("release", "");
    // The words name who holds the lock: the other run, what a killed run
    // started, or (where the system cannot tell) either.
    const std::string program = row.program;
    const std::string refusal =
        row.kill_first    ? program + ".lock is locked by what an earlier " + program +
                             " started, still at work: .*" + row.child + " \\(pid [0-9]+\\).*; " + row.left
        : lxt::is_wine() ? program + ".lock is locked by another " + program +
                               " or by a program that an earlier one started; " + row.left
                         : "Another " + program + " is at work in this directory \\(" + program + ".lock is locked\\); " +
                               row.left;
    EXPECT_TRUE(second.status == 1 && matches(lxt::lf(second.err), std::string(row.program) + ": " + kStamp +
                                              ": ERROR: " + refusal + "\n$")) << second.err;
    const std::optional<int> first_status = holder.wait(std::chrono::seconds(60));
    if (row.kill_first) {
      // The released child ends; then a run does the whole job.
      RunResult again = lxt::run(argv, options);
      for (int tries = 0; tries < 300 && again.status != 0; ++tries) again = lxt::run(argv, options);
      EXPECT_EQ(again.status, 0) << again.err;
    } else {
      EXPECT_EQ(first_status, std::optional<int>(0));
    }
    EXPECT_EQ(dir_.read("data/All-Templates.gz"), "compressed");
    EXPECT_FALSE(dir_.exists("data/" + std::string(row.program) + ".lock"));
  }
}

TEST_F(Seal, PackdumpKilledAtAnyChildStartKeepsTheOldDumpWhole) {
  // The probe's gzip, then the pipeline's dbmtool and gzip.
  const std::pair<const char*, int> kills[] = {{"gzip", 1}, {"dbmtool", 1}, {"gzip", 2}};
  dir_.mkdir("killers");
  int n = 0;
  for (const auto& [tool, at] : kills) {
    SCOPED_TRACE(std::string(tool) + " #" + std::to_string(at));
    dir_.write("data/All-Templates.gz", "old dump\n");
    dir_.write("data/PRODUCTION.gdbm", "production\n");
    const std::string killer = lxt::install_double("lxkill", dir_.file("killers"), tool);
    lxt::RunOptions options;
    options.env = {{"LXT_DBMTOOL_PRINT", "templates"},
                   {"LXT_KILL", "packdump"},
                   {"LXT_KILL_AT", std::to_string(at)},
                   {"LXT_KILL_COUNT", dir_.file("count" + std::to_string(++n))}};
    options.cwd = dir_.file("data");
    options.search_dirs = {dir_.file("killers"), install_.tools_dir()};
    const RunResult killed = lxt::run({lxt::program("packdump")}, options);
    std::remove(killer.c_str());
    EXPECT_EQ(killed.status, 128 + 9) << killed.err;
    EXPECT_EQ(dir_.read("data/All-Templates.gz"), "old dump\n");

    // The next run makes the new dump over whatever the killed one left,
    // once the killed run's children, which keep its lock, have ended.
    options.env = {{"LXT_GZIP_PRINT", "compressed"}, {"LXT_DBMTOOL_PRINT", "templates"}};
    RunResult again = lxt::run({lxt::program("packdump")}, options);
    for (int tries = 0; tries < 300 && again.err.find("packdump.lock is locked") != std::string::npos; ++tries) {
      again = lxt::run({lxt::program("packdump")}, options);
    }
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(dir_.read("data/All-Templates.gz"), "compressed");
    EXPECT_FALSE(dir_.exists("data/packdump.out.gz"));
  }
}

// ---- with the stand-ins, real gzip and real Perl ---------------------------------

class Finishing : public lxt::ProgramTest {
 protected:
  void SetUp() override {
    dir_.mkdir("killers");
    ASSERT_TRUE(install_.write_registry_text("REGEDIT4\n"));
  }

  // Gathered templates that overlap each other and the production database.
  void gathered(const std::string& data) const {
    dir_.mkdir(data);
    dir_.write(data + "/WORKING.gdbm", "@FILE { http://a.example.jp/1\nBody{1}:\tW\n}\n@FILE { http://b.example.jp/2\nBody{1}:\tW\n}\n");
    dir_.write(data + "/REFRESH.gdbm", "@FILE { http://a.example.jp/1\nBody{1}:\tR\n}\n");
    dir_.write(data + "/PRODUCTION.gdbm", "@FILE { http://c.example.jp/3\nBody{1}:\tP\n}\n@FILE { http://b.example.jp/2\nBody{1}:\tP\n}\n");
  }

  RunResult storeseal(const std::string& id, const std::string& data, std::vector<lxt::EnvChange> env = {}) const {
    lxt::RunOptions options;
    options.env = std::move(env);
    options.set("LXG_STARTMODE", "LX");
    options.search_dirs = search_;
    options.cwd = dir_.path();
    return lxt::run({lxt::program("storeseal"), id, dir_.file(data)}, options);
  }

  // The URLs of the templates of a database, in order.
  std::vector<std::string> urls(const std::string& name) const {
    std::vector<std::string> found;
    const std::string text = dir_.read(name);
    for (std::size_t at = text.find("@FILE { "); at != std::string::npos; at = text.find("@FILE { ", at + 1)) {
      found.push_back(text.substr(at + 8, text.find('\n', at) - at - 8));
    }
    return found;
  }

  // The files among INDEX.gdbm, MD5.gdbm, All-Templates.gz and INFO.soif
  // that do not describe the production database of the folder.
  std::vector<std::string> stale(const std::string& data) const {
    std::string index;
    for (const std::string& url : urls(data + "/PRODUCTION.gdbm")) index += url + "\n";
    const std::string count = std::to_string(std::count(index.begin(), index.end(), '\n'));
    const std::string unpacked = dir_.file(data + ".unpacked");
    std::system(("gzip -dc '" + dir_.file(data + "/All-Templates.gz") + "' > '" + unpacked + "' 2>/dev/null").c_str());
    const std::pair<const char*, bool> files[] = {
        {"INDEX.gdbm", dir_.read(data + "/INDEX.gdbm") == index},
        {"MD5.gdbm", std::regex_replace(dir_.read(data + "/MD5.gdbm"), std::regex("[0-9a-f]{16} "), "") == index},
        {"All-Templates.gz", lxt::read_file(unpacked) == dir_.read(data + "/PRODUCTION.gdbm")},
        {"INFO.soif", matches(dir_.read(data + "/INFO.soif"), "Number-Of-Templates\\{[0-9]\\}:\t" + count + "\n")}};
    std::vector<std::string> names;
    for (const auto& [name, agrees] : files) {
      if (!agrees) names.push_back(name);
    }
    return names;
  }

  std::vector<std::string> search_{dir_.file("killers"), lxt::bin_dir() + "/../kestrel/bin"};
};

TEST_F(Finishing, ChildrenThatFailEndInSuccessWithEveryFileNewOrInAFailureThatNamesTheOldOnes) {
  if (lxt::is_wine()) GTEST_SKIP() << "the failing children are shell scripts around the POSIX tools";
  // The tools are links in one folder, gzip and Perl configured there, so that
  // each can be taken away or put behind a script that fails.
  const std::string kestrel = lxt::bin_dir() + "/../kestrel/bin";
  const std::string tools = dir_.file("tools");
  dir_.mkdir("tools");
  std::vector<std::filesystem::path> linked{"/usr/bin/gzip", "/usr/bin/perl"};
  for (const auto& entry : std::filesystem::directory_iterator(kestrel)) linked.push_back(entry.path());
  for (const auto& path : linked) std::filesystem::create_symlink(path, tools + "/" + path.filename().string());
  ASSERT_TRUE(install_.write_registry(lxt::RegistryKeys{.path00 = std::nullopt, .env_info = "\"GzipPath\"=" + lxt::reg_string(tools + "/gzip") + "\n\"PerlPath\"=" +
                                           lxt::reg_string(tools + "/perl") + "\n"}));
  search_ = {tools};
  // A finished database, and a new gathering for it.
  gathered("base");
  ASSERT_EQ(storeseal("gid", "base").status, 0);
  ASSERT_TRUE(stale("base").empty());
  dir_.write("base/WORKING.gdbm", "@FILE { http://d.example.jp/4\nBody{1}:\tW\n}\n");
  dir_.write("base/REFRESH.gdbm", "@FILE { http://a.example.jp/1\nBody{1}:\tN\n}\n");
  const std::set<std::string> all{"http://a.example.jp/1", "http://b.example.jp/2", "http://c.example.jp/3",
                                  "http://d.example.jp/4"};

  // What each tool writes when it is cut short.
  const std::map<std::string, std::string> cut{{"storetidy", "head -c 40 \"$1\" > \"$1.tidy\""},
                                               {"storejoin", "REAL \"$@\" && truncate -s 40 \"$1\""},
                                               {"keybuild", "REAL \"$@\" && truncate -s 10 \"$2\""},
                                               {"dbmtool", "REAL \"$@\" | head -c 40"},
                                               {"gzip", "REAL \"$@\" | head -c 40"},
                                               {"perl", "REAL \"$@\" | head -c 40"}};
  int n = 0;
  for (const auto& [tool, cut_short] : cut) {
    for (const std::string outcome : {"missing", "non-zero", "killed", "partial output"}) {
      SCOPED_TRACE(tool + " " + outcome);
      const std::string data = "run" + std::to_string(++n);
      std::filesystem::copy(dir_.file("base"), dir_.file(data), std::filesystem::copy_options::recursive);
      const std::string link = tools + "/" + tool;
      const std::string real = std::filesystem::read_symlink(link).string();
      std::filesystem::remove(link);
      if (outcome != "missing") {
        const std::string body = outcome == "non-zero" ? "REAL \"$@\"\nexit 3"
                                 : outcome == "killed"  ? cut_short + "\nkill -9 $$"
                                                        : cut_short + "\nexit 1";
        // Only gzip's probe of usability always succeeds.
        lxt::write_file(link, std::regex_replace("#!/bin/sh\n[ \"$1\" = -V ] && exec REAL -V\n" + body + "\n",
                                                 std::regex("REAL"), real));
        std::filesystem::permissions(link, std::filesystem::perms::owner_all);
      }
      const RunResult result = storeseal("gid", data);
      std::filesystem::remove(link);
      std::filesystem::create_symlink(real, link);

      std::set<std::string> kept;
      for (const char* name : {"PRODUCTION.gdbm", "WORKING.gdbm", "REFRESH.gdbm"}) {
        for (const std::string& url : urls(data + "/" + name)) kept.insert(url);
      }
      const std::vector<std::string> left = stale(data);
      // Without a usable gzip no dump is made, and that is no failure.
      const bool no_gzip = tool == "gzip" && outcome == "missing";
      const bool succeeded = result.status == 0 && result.out.ends_with("storeseal: Databases ready for export.\n") &&
                             !dir_.exists(data + "/WORKING.gdbm") &&
                             left == std::vector<std::string>(no_gzip ? 1 : 0, "All-Templates.gz");
      bool failed = result.status != 0 && matches(result.err, "storeseal: " + kStamp + ": ERROR: ");
      for (const std::string& name : left) {
        failed = failed && result.err.find(name) != std::string::npos &&
                 dir_.read(data + "/" + name) == dir_.read("base/" + name);
      }
      EXPECT_TRUE(kept == all && (succeeded || failed))
          << "status " << result.status << ", not describing the database: " << ::testing::PrintToString(left)
          << ", templates: " << ::testing::PrintToString(kept) << "\n" << result.err;
    }
  }
}

TEST_F(Finishing, RoundTripWithShiftJisIdAndDirectory) {
  // Arguments reach a program under Wine through UTF-8, and Wine's
  // interpreter cannot start the POSIX gzip and Perl.
  if (lxt::is_wine()) GTEST_SKIP() << "needs the POSIX gzip and Perl and Shift_JIS arguments";
  // Both end in a character whose second byte is 0x5C, the code of "\".
  const std::string id = "\x8e\xfb\x8f\x57\x95\x5c";      // 収集表
  const std::string data = "\x83\x66\x81\x5b\x83\x5e\x95\x5c";  // データ表
  gathered(data);
  const RunResult result = storeseal(id, data);
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, progress_out(dir_.file(data)));

  // Consolidated by URL, the freshest template kept: the gathered one before
  // the refreshed one before the production database's.
  EXPECT_EQ(dir_.read(data + "/PRODUCTION.gdbm"),
            "@FILE { http://a.example.jp/1\nBody{1}:\tW\n}\n@FILE { http://b.example.jp/2\nBody{1}:\tW\n}\n"
            "@FILE { http://c.example.jp/3\nBody{1}:\tP\n}\n");
  EXPECT_EQ(dir_.read(data + "/INDEX.gdbm"), "http://a.example.jp/1\nhttp://b.example.jp/2\nhttp://c.example.jp/3\n");

  // The dump is real gzip of the production database.
  const std::string unpacked = dir_.file("unpacked");
  ASSERT_EQ(std::system(("gzip -dc '" + dir_.file(data + "/All-Templates.gz") + "' > '" + unpacked + "'").c_str()), 0);
  EXPECT_EQ(lxt::read_file(unpacked), dir_.read(data + "/PRODUCTION.gdbm"));

  const std::string bytes = std::to_string(lxt::read_file(unpacked).size());
  EXPECT_EQ(dir_.read(data + "/INFO.soif"), "@INFO { " + id + "\nGatherer-ID{6}:\t" + id +
                                                "\nNumber-Of-Templates{1}:\t3\nNumber-Of-Hosts{1}:\t3\nNumber-Of-Bytes{" +
                                                std::to_string(bytes.size()) + "}:\t" + bytes + "\n}\n");
  const std::string japanese = dir_.read(data + "/INFO_J.txt");
  EXPECT_NE(japanese.find(": " + id + "\n"), std::string::npos) << japanese;
  EXPECT_NE(japanese.find(": 3\n"), std::string::npos) << japanese;
  for (const char* gone : {"WORKING.gdbm", "REFRESH.gdbm", "storeseal.gdbm", "packdump.out.gz"}) {
    EXPECT_FALSE(dir_.exists(data + "/" + gone)) << gone;
  }
}

TEST_F(Finishing, AKillAtAnyChildStartLosesNoTemplate) {
  struct Kill {
    const char* tool;
    int at;  // its n-th start
  };
  // packdump is found beside storeseal before any other folder: its own
  // children stand for the moment it starts. Under Wine, where the POSIX gzip
  // cannot be started, the copies that do not kill stand in for it.
  const Kill kills[] = {{"storetidy", 1}, {"storetidy", 2}, {"storejoin", 1}, {"keybuild", 1},
                        {"gzip", 1},      {"dbmtool", 1},   {"gzip", 2},      {"gzip", 3},
                        {"gzip", 4},      {"perl", 1},      {"ridOrizIdor", 1}};
  const std::vector<std::string> all{"http://a.example.jp/1", "http://b.example.jp/2", "http://c.example.jp/3"};
  int n = 0;
  for (const Kill& kill : kills) {
    SCOPED_TRACE(std::string(kill.tool) + " #" + std::to_string(kill.at));
    // The rendering follows new statistics only, which need Perl.
    if (lxt::is_wine() && std::string(kill.tool) == "ridOrizIdor") continue;
    const std::string data = "data" + std::to_string(++n);
    gathered(data);
    const std::string killer = lxt::install_double("lxkill", dir_.file("killers"), kill.tool);
    const RunResult killed = storeseal("gid", data,
                                       {{"LXT_KILL", "storeseal"},
                                        {"LXT_KILL_AT", std::to_string(kill.at)},
                                        {"LXT_KILL_COUNT", dir_.file(data + ".count")}});
    std::remove(killer.c_str());
    // SIGKILL natively; under Wine the status the killer gives TerminateProcess.
    EXPECT_EQ(killed.status, 128 + 9) << killed.err;
    EXPECT_TRUE(dir_.exists(data + "/PRODUCTION.gdbm"));

    // Run again: it finishes, or finds the gathering already finished, once
    // the killed run's children, which keep its lock, have ended.
    RunResult again;
    EXPECT_TRUE(lxt::wait_until(
        [&] {
          again = storeseal("gid", data);
          return again.err.find("storeseal.lock is locked") == std::string::npos;
        },
        std::chrono::seconds(60)));
    EXPECT_TRUE(again.status == 0 || (again.status == 1 && !dir_.exists(data + "/WORKING.gdbm"))) << again.err;
    if (again.status != 0 && !lxt::is_wine()) {
      // Cut short after the new database took its place: packdump alone makes
      // its dump, once the one the killed storeseal started has ended.
      EXPECT_TRUE(lxt::wait_until([&] { return !dir_.exists(data + "/packdump.lock"); }, std::chrono::seconds(60)));
      lxt::RunOptions alone;
      alone.cwd = dir_.file(data);
      alone.search_dirs = search_;
      EXPECT_EQ(lxt::run({lxt::program("packdump")}, alone).status, 0);
      EXPECT_FALSE(contains(stale(data), "All-Templates.gz"));
    }
    std::vector<std::string> found = urls(data + "/PRODUCTION.gdbm");
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, all);
    EXPECT_FALSE(dir_.exists(data + "/storeseal.gdbm"));
  }
}

}  // namespace
