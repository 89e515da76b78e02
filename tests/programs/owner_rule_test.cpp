// Root acts for no other user, and no program follows instructions another
// user can change. Each row changes one entry of a gatherer's tree, all
// root's, into one that another user owns or can write (a user or a group of
// their own is a number no password entry names), and names the programs
// that must refuse, with their status and the line that names the entry, its
// owner and mode; nothing is run then. POSIX only: on Windows the access
// lists decide, and the pages say who may write the directories.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/programs/program_test.h"

namespace {

namespace fs = std::filesystem;
using lxt::literal;
using lxt::matches;

constexpr uid_t kStranger = 4242;
constexpr gid_t kNogroup = 65534;
// How a fault of an entry another user owns ends, as the refusal says it.
const std::string kAnotherUsers = " is another user's";

const std::vector<std::string> kAll = {"cyclerun", "storeseal", "packdump", "LaunchCrawler", "LaunchServer", "StopServer"};

class OwnerRule : public lxt::ProgramTest {
 protected:
  OwnerRule() : ProgramTest("in") {}

  void SetUp() override {
    if (lxt::is_wine()) GTEST_SKIP() << "Windows: who may write the directories is set by their access lists";
    if (::geteuid() != 0) GTEST_SKIP() << "the trees of other users are made as root";
    ::chmod(dir_.path().c_str(), 0755);
    for (const char* d : {"in/data", "in/work", "in/home/bin", "in/home/lib/gatherer", "in/home/gatherers/demo", "other"}) {
      fs::create_directories(dir_.file(d));
    }
    install_.install_tools({"linkprune", "seedurls", "essence", "storetidy", "perl", "exportd", "gzip", "dbmtool"});
    install_.write_catalogue();
    ASSERT_TRUE(install_.write_registry());
    dir_.write("in/work/cyclerun.ini", "Data-Directory=" + dir_.host("in/data") + "\nWorking-Directory=" +
                                           dir_.host("in/work") + "\nlinkprunecmd=linkprune.exe\n");
    dir_.write("in/process.ini", "KESTREL_HOME=" + dir_.host("in/home") + "\nGATHERER_NAME=demo\nGATHERER_DATA=" +
                                     dir_.host("in/data") + "\nGATHERER_PORT=8500\n");
    dir_.write("in/home/gatherers/demo/demo.cf", "Gatherer-Name: demo\n");
    dir_.write("in/data/PRODUCTION.gdbm", "db\n");
    dir_.write("in/data/Exportd.pid", "0\n");
  }

  lxt::RunResult run(const std::string& program, const std::vector<std::string>& runner = {},
                     const std::vector<lxt::EnvChange>& env = {}) const {
    const std::map<std::string, std::vector<std::string>> args = {
        {"cyclerun", {dir_.host("in/work/cyclerun.ini")}}, {"LaunchCrawler", {dir_.host("in/process.ini")}},
        {"LaunchServer", {dir_.host("in/process.ini")}},   {"StopServer", {dir_.host("in/process.ini"), "NORMAL"}},
        {"storeseal", {"demo", dir_.host("in/data")}},     {"packdump", {}}};
    lxt::RunOptions options;
    options.set("KESTREL_HOME", dir_.host("in/home")).set("LORVEX_EVENTLOG", dir_.file("events"));
    options.env.insert(options.env.end(), env.begin(), env.end());
    // The tools first on the search path, unless the row gives a path of its own.
    const bool own_path = std::any_of(env.begin(), env.end(), [](const lxt::EnvChange& e) { return e.name == "PATH"; });
    if (!own_path) options.search_dirs.push_back(install_.tools_dir());
    options.cwd = program == "packdump" ? dir_.file("in/data") : dir_.path();
    std::vector<std::string> argv = runner;
    argv.push_back(lxt::program(program));
    argv.insert(argv.end(), args.at(program).begin(), args.at(program).end());
    fs::remove(journal_path());
    // A journal the doubles, run as another user, can append to.
    if (!runner.empty()) {
      lxt::write_file(journal_path(), "");
      own(journal_path(), 65534, 65534, 0644);
    }
    return run_argv(argv, options);
  }

  static void own(const std::string& path, uid_t uid, gid_t gid, mode_t mode) {
    ASSERT_EQ(::lchown(path.c_str(), uid, gid), 0) << path;
    ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
  }

  // PROGRAM refused with STATUS and the line that names ENTRY (below the test
  // folder) and its FAULT, with the mend that fits it; no tool ran.
  void expect_refused(const std::string& program, const lxt::RunResult& result, int status, const std::string& entry,
                      const std::string& fault) const {
    EXPECT_EQ(result.status, status) << result.err;
    const std::string mend = fault.find(kAnotherUsers) != std::string::npos
                                 ? "Root acts for no other user: run it as 4242 \\(runuser -u 4242 -- " + program
                                 : "Take the right to write there away: chmod go-w " + literal(dir_.file(entry));
    EXPECT_TRUE(matches(result.err, "^" + lxt::diagnostic_prefix(program) + "ERROR: [^\n]* is not used: " +
                                        literal(dir_.file(entry)) + " " + fault +
                                        ", so another user can change it\\.  " + mend))
        << result.err;
    EXPECT_TRUE(programs().empty()) << "a tool ran";
  }
};

struct Row {
  const char* what;
  std::function<void(const OwnerRule&, const lxt::TempDir&)> change, undo;
  std::vector<std::string> refusing;       // the programs that refuse; the others run
  std::string entry;                       // the failing entry, below the test folder
  std::string fault;                       // "(owner O, mode M) WHY", as a pattern
  std::map<std::string, int> statuses = {};  // where a refusal's status is not 1
};

TEST_F(OwnerRule, RootRefusesATreeAnotherUserOwnsOrCanWrite) {
  const auto set = [](const std::string& path, uid_t uid, gid_t gid, mode_t mode) {
    return [=](const OwnerRule&, const lxt::TempDir& d) { own(d.file(path), uid, gid, mode); };
  };
  const std::vector<Row> rows = {
      {"root's own tree", set("in", 0, 0, 0755), set("in", 0, 0, 0755), {}, "", ""},
      {"the data directory another user's", set("in/data", kStranger, 0, 0755), set("in/data", 0, 0, 0755),
       {"cyclerun", "storeseal", "packdump", "LaunchServer", "StopServer"}, "in/data",
       "\\(owner 4242, mode 0755\\)" + kAnotherUsers},
      {"the working directory writable for a shared group", set("in/work", 0, kNogroup, 0775),
       set("in/work", 0, 0, 0755), {"cyclerun"}, "in/work",
       "\\(owner root, mode 0775\\) is writable for the group nogroup"},
      {"KESTREL_HOME's bin writable for every user", set("in/home/bin", 0, 0, 0777), set("in/home/bin", 0, 0, 0755),
       kAll, "in/home/bin", "\\(owner root, mode 0777\\) is writable for every user"},
      {"lib/gatherer a link into another user's directory",
       [](const OwnerRule&, const lxt::TempDir& d) {
         own(d.file("other"), kStranger, 0, 0755);
         fs::remove(d.file("in/home/lib/gatherer"));
         fs::create_symlink(d.file("other"), d.file("in/home/lib/gatherer"));
       },
       [](const OwnerRule&, const lxt::TempDir& d) {
         fs::remove(d.file("in/home/lib/gatherer"));
         fs::create_directory(d.file("in/home/lib/gatherer"));
       },
       kAll, "other", "\\(owner 4242, mode 0755\\)" + kAnotherUsers},
      {"a sticky directory every user may write on the way, root's entries in it",
       set("in/home/gatherers", 0, 0, 01777), set("in/home/gatherers", 0, 0, 0755), {}, "", ""},
      {"the gatherer directory the service user's", set("in/home/gatherers/demo", kStranger, kStranger, 0755),
       set("in/home/gatherers/demo", 0, 0, 0755), {"LaunchCrawler"}, "in/home/gatherers/demo",
       "\\(owner 4242, mode 0755\\)" + kAnotherUsers},
      {"the gatherer's .cf writable for a shared group", set("in/home/gatherers/demo/demo.cf", 0, kNogroup, 0664),
       set("in/home/gatherers/demo/demo.cf", 0, 0, 0644), {"LaunchCrawler"}, "in/home/gatherers/demo/demo.cf",
       "\\(owner root, mode 0664\\) is writable for the group nogroup"},
      {"a settings file writable for a shared group", set("in/process.ini", 0, kNogroup, 0664),
       set("in/process.ini", 0, 0, 0644), {"LaunchCrawler", "LaunchServer", "StopServer"}, "in/process.ini",
       "\\(owner root, mode 0664\\) is writable for the group nogroup", {{"LaunchServer", 255}, {"StopServer", 254}}},
      {"a settings file writable for its owner's own group", set("in/process.ini", 0, 0, 0664),
       set("in/process.ini", 0, 0, 0644), {}, "", ""},
  };
  for (const Row& row : rows) {
    row.change(*this, dir_);
    for (const std::string& program : kAll) {
      SCOPED_TRACE(std::string(row.what) + ": " + program);
      const bool refuses = std::find(row.refusing.begin(), row.refusing.end(), program) != row.refusing.end();
      const lxt::RunResult result = run(program);
      if (!refuses) {
        EXPECT_FALSE(matches(result.err, "is not used")) << result.err;
        continue;
      }
      const auto status = row.statuses.find(program);
      expect_refused(program, result, status == row.statuses.end() ? 1 : status->second, row.entry, row.fault);
    }
    row.undo(*this, dir_);
  }
}

// Whoever runs it, no program follows instructions another user can
// change; run as nobody, a tree of nobody's own is used, one another user's
// file in it is not.
TEST_F(OwnerRule, InstructionsAnotherUserCanChangeAreRefusedWhoeverRuns) {
  const std::vector<std::string> nobody = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  for (const char* d : {"in", "in/work", "in/data"}) own(dir_.file(d), 65534, 65534, 0755);
  own(dir_.file("in/work/cyclerun.ini"), 65534, 65534, 0644);
  lxt::RunResult result = run("cyclerun", nobody);
  EXPECT_FALSE(matches(result.err, "is not used")) << result.err;
  EXPECT_EQ(programs(), std::vector<std::string>{"linkprune"});
  own(dir_.file("in/work/cyclerun.ini"), kStranger, 65534, 0644);
  result = run("cyclerun", nobody);
  EXPECT_EQ(result.status, 1);
  EXPECT_TRUE(matches(result.err, "ERROR: The settings file [^\n]* is not used: " +
                                      literal(dir_.file("in/work/cyclerun.ini")) +
                                      " \\(owner 4242, mode 0644\\) is another user's, so another user can change "
                                      "it\\.  Only what root or nobody owns is used\\.\n"))
      << result.err;
  EXPECT_TRUE(programs().empty());

  // The registry file names the tools: one every user may write is not read,
  // and the program says so once, however many values it looks up.
  for (const char* d : {"in", "in/work", "in/data"}) own(dir_.file(d), 0, 0, 0755);
  dir_.write("in/data/WORKING.gdbm", "db\n");
  const char* registry = std::getenv("LORVEX_REGISTRY");
  ASSERT_NE(registry, nullptr);
  ASSERT_EQ(::chmod(registry, 0666), 0);
  result = run("storeseal");
  const std::string refusal = "ERROR: The registry file " + literal(registry) + " is not used: " + literal(registry) +
                              " \\(owner root, mode 0666\\) is writable for every user";
  EXPECT_TRUE(matches(result.err, "^storeseal: " + std::string(lxt::kStampPattern) + ": " + refusal)) << result.err;
  EXPECT_FALSE(matches(result.err, refusal + "[^]*" + refusal)) << result.err;
}

// A relative search path entry names a directory from wherever a program
// searches: run as root, such entries are left out (with a warning) of the
// search and of every child's path; run as another user, a program planted
// there by someone else is passed over. A relative KESTREL_HOME is made
// absolute before the launcher changes directory, so that the search path
// its script inherits names the framework, not a folder of the gatherer's.
TEST_F(OwnerRule, RelativeSearchPathEntriesRunNothingAnotherUserPlanted) {
  const std::vector<std::string> nobody = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  dir_.mkdir("bin");
  dir_.write("bin/linkprune", "#!/bin/sh\necho planted > " + dir_.file("planted") + "\n");
  ::chmod(dir_.file("bin/linkprune").c_str(), 0755);
  own(dir_.file("bin"), kStranger, kStranger, 0755);
  const char* inherited = std::getenv("PATH");
  struct Case {
    const char* what;
    std::vector<std::string> runner;
    std::string path;
    std::string warning;  // a pattern, "" for none
  };
  const Case cases[] = {
      {"root, a relative entry", {}, "bin:" + install_.tools_dir(),
       "Warning: the relative entry \"bin\" of PATH is left out: run as root, a program searches only absolute "
       "directories\\."},
      {"root, an empty entry", {}, ":" + install_.tools_dir(), "Warning: the empty entry \\(the current directory\\)"},
      {"another user, a relative entry to a third user's folder", nobody, "bin:" + install_.tools_dir(), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(dir_.file("planted"));
    // cyclerun runs from the test folder, where bin/ is.
    const lxt::RunResult result = run("cyclerun", c.runner, {{"PATH", c.path + ":" + (inherited ? inherited : "")}});
    EXPECT_FALSE(dir_.exists("planted")) << result.err;
    EXPECT_EQ(programs(), std::vector<std::string>{"linkprune"}) << result.err;
    if (c.warning.empty()) {
      EXPECT_FALSE(matches(result.err, "Warning: the")) << result.err;
    } else {
      EXPECT_TRUE(matches(result.err, "^" + lxt::diagnostic_prefix("cyclerun") + c.warning)) << result.err;
    }
  }

  dir_.write("in/process.ini", "KESTREL_HOME=in/home\nGATHERER_NAME=demo\n");
  lxt::install_double("lxrecord", dir_.file("in/home/bin"), "perl");
  lxt::RunOptions options;
  options.set("PATH", inherited ? inherited : "");
  fs::remove(journal_path());
  const lxt::RunResult result =
      run_argv({lxt::program("LaunchCrawler"), "in/process.ini"}, options, "KESTREL_HOME,PATH");
  const std::vector<lxt::Record> records = journal();
  ASSERT_EQ(records.size(), 1u) << result.err;
  const std::string home = fs::canonical(dir_.path()).string() + "/in/home";
  EXPECT_EQ(records[0].env.at("KESTREL_HOME"), home);
  EXPECT_TRUE(records[0].env.at("PATH").value_or("").starts_with(home + "/bin:" + home + "/lib/gatherer:" + home +
                                                                 "/lib:"))
      << records[0].env.at("PATH").value_or("(unset)");
}

}  // namespace
