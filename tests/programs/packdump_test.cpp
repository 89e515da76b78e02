// packdump as a black box, with recording doubles for the framework's
// tools, and a second run of either finishing program beside the first.
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

}  // namespace
