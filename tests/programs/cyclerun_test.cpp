// The gathering cycle, run as a black box with recording doubles standing in
// for the framework's tools.
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

#include "tests/programs/program_test.h"

namespace {

using lxt::Record;
using lxt::RunResult;

const std::vector<std::string> kTools{"linkprune", "agecull", "keybuild", "seedurls", "essence", "storeseal"};

const char kUrls[] = "http://www.example.jp/\nhttp://www.example.jp/a b.html\n";

bool writable(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && (info.st_mode & S_IWUSR) != 0;
}

void make_read_only(const std::string& path) { ::chmod(path.c_str(), 0444); }

using lxt::matches;
using lxt::Peer;

// The machine-readable comment line of a message page.
std::string comment(const std::string& id_and_args) { return "<!-- " + id_and_args + " -->\n"; }

// "cyclerun: <stamp>: " at the start of a line.
const std::string kPrefix = lxt::diagnostic_prefix("cyclerun");

class Cycle : public lxt::ProgramTest {
 protected:
  void SetUp() override {
    dir_.mkdir("data");
    dir_.mkdir("work");
    dir_.write("work/gatherinput", kUrls);
    install_.install_tools(kTools);
    install_.write_catalogue();
    registry(Peer::closed_port());
  }

  // The search service's command port (none: -1).
  void registry(int command_port, const std::string& extra_env_info = "") {
    ASSERT_TRUE(install_.write_registry((command_port >= 0 ? lxt::Installation::command_port(command_port) : "") +
                                        extra_env_info));
  }

  std::string data() const { return dir_.host("data"); }
  std::string work() const { return dir_.host("work"); }
  std::string in_work(const std::string& name) const { return "work/" + name; }

  // The settings lines every cycle needs, each ending in a line feed.
  std::string base_settings() const {
    return "Data-Directory=" + data() + "\n" + "Working-Directory=" + work() + "\n" +
           "Gatherer-Name=demo gatherer\n" + "linkprunecmd=linkprune.exe -v\n" +
           "agecullcmd=agecull.exe PRODUCTION.gdbm\n" + "keybuildcmd=keybuild.exe a b\n" +
           "seedcmd=seedurls.exe\n" + "essencecmd=essence.exe --max-deletions=100 x\n" +
           // By its path: the real storeseal beside cyclerun would be found first.
           "storesealcmd=" + install_.tool("storeseal") + " gid " + data() + "\n";
  }

  // Writes work/cyclerun.ini and returns its path as the program sees it.
  std::string settings(const std::string& text) const {
    dir_.write("work/cyclerun.ini", text);
    return dir_.host("work/cyclerun.ini");
  }

  RunResult cyclerun(const std::vector<std::string>& args, lxt::RunOptions options = {}) const {
    options.search_dirs.push_back(install_.tools_dir());
    options.cwd = dir_.path();
    return run_program("cyclerun", args, options, env_names_);
  }

  const Record* find(const std::string& program) const {
    journal_cache_ = journal();
    for (const auto& record : journal_cache_) {
      if (record.program == program) return &record;
    }
    return nullptr;
  }

  std::string env_names_;
  mutable std::vector<Record> journal_cache_;
};

TEST_F(Cycle, WrongArgumentCountGivesOnlyTheUsage) {
  for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"a.ini", "b.ini"}}) {
    const RunResult result = cyclerun(args);
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(matches(result.err, "^" + kPrefix + "Usage: cyclerun.exe ini_file\n$")) << result.err;
    EXPECT_EQ(result.out, "");
  }
  EXPECT_TRUE(journal().empty());
}

TEST_F(Cycle, RunsTheStepsInOrderAndCleansTheWorkingDirectory) {
  dir_.write("data/PRODUCTION.gdbm", "prod");
  dir_.write("data/INDEX.gdbm", "index");
  dir_.write("data/MD5.gdbm", "md5");
  dir_.mkdir("work/cache-liburl");
  dir_.mkdir("work/cache-liburl/host");
  dir_.write("work/cache-liburl/host/page", "cached");
  dir_.write("work/localmap.cf", "m");
  dir_.write("work/HTTPAuth.cf", "h");
  dir_.write("work/FTPAuth.cf", "f");
  make_read_only(dir_.file("data/PRODUCTION.gdbm"));
  make_read_only(dir_.file("work/HTTPAuth.cf"));
  const std::string path = settings(base_settings());
  lxt::RunOptions options;
  options.set("LXT_SEEDURLS_STDIN", "read").set("LXT_SEEDURLS_PRINT", "seeded-url-list\n");
  options.set("LXT_ESSENCE_STDIN", "read");

  const RunResult result = cyclerun({path}, options);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  // Nothing listens on the command port.
  EXPECT_TRUE(result.out.starts_with("Content-Type: text/html\n\n" + comment("LXCM019-E"))) << result.out;

  std::vector<std::string> ran = programs();
  ASSERT_EQ(ran.size(), 6u) << ::testing::PrintToString(ran);
  // The two tools of the pipeline run at the same time: their records may come in either order.
  std::sort(ran.begin() + 3, ran.begin() + 5);
  EXPECT_EQ(ran, (std::vector<std::string>{"linkprune", "agecull", "keybuild", "essence", "seedurls", "storeseal"}));

  // Command lines come whole from the settings file.
  EXPECT_EQ(find("linkprune")->args, (std::vector<std::string>{"-v"}));
  EXPECT_EQ(find("essence")->args, (std::vector<std::string>{"--max-deletions=100", "x"}));
  EXPECT_EQ(find("storeseal")->args, (std::vector<std::string>{"gid", data()}));
  // The URL input is typed into the seeding command, whose output feeds the engine.
  EXPECT_EQ(lxt::lf(find("seedurls")->stdin_data.value_or("<none>")), kUrls);
  EXPECT_EQ(lxt::lf(find("essence")->stdin_data.value_or("<none>")), "seeded-url-list\n");

  EXPECT_FALSE(dir_.exists("data/INDEX.gdbm"));
  EXPECT_FALSE(dir_.exists("data/MD5.gdbm"));
  EXPECT_TRUE(dir_.exists("data/PRODUCTION.gdbm"));
  EXPECT_TRUE(writable(dir_.file("data/PRODUCTION.gdbm")));
  for (const char* gone : {"cache-liburl", "localmap.cf", "HTTPAuth.cf", "FTPAuth.cf", "cyclerun.ini", "gatherinput"}) {
    EXPECT_FALSE(dir_.exists(in_work(gone))) << gone;
  }
}

TEST_F(Cycle, ExportsEnvironmentSettingsAndWarnsAboutUnknownNames) {
  env_names_ = "KESTREL_HOME,KESTREL_X,TMPDIR,LXG_STARTMODE,http_proxy,HTTP_PROXY,kestrel_home,tmpdir";
  const std::string path = settings(base_settings() + "KESTREL_HOME=" + data() + "\n" +
                                    "KESTREL_X=a=b\n" + "TMPDIR=" + work() + "\n" + "LXG_STARTMODE=LX\n" +
                                    "kestrel_home=lower\n" + "HTTP_PROXY=http://upper:8080\n" +
                                    "tmpdir=lower\n" + " Data-Directory=blank\n");
  lxt::RunOptions options;
  // A web server hands a request's Proxy header on as HTTP_PROXY: a name
  // the cycle removes goes in every letter case, on both targets. (Windows
  // holds one of the two; Wine would carry both over from POSIX.)
  if (!lxt::is_wine()) options.set("http_proxy", "http://inherited:3128");
  options.set("HTTP_PROXY", "http://requester:3128");
  const RunResult result = cyclerun({path}, options);
  EXPECT_EQ(result.status, 0);
  for (const char* line : {"kestrel_home=lower", "HTTP_PROXY=http://upper:8080", "tmpdir=lower", " Data-Directory=blank"}) {
    EXPECT_TRUE(matches(result.err, kPrefix + "Warnig: " + line + " is not processed.\n")) << line << "\n" << result.err;
  }
  const Record* tool = find("linkprune");
  ASSERT_NE(tool, nullptr);
  EXPECT_EQ(tool->env.at("KESTREL_HOME"), data());
  EXPECT_EQ(tool->env.at("KESTREL_X"), "a=b");
  EXPECT_EQ(tool->env.at("TMPDIR"), work());
  EXPECT_EQ(tool->env.at("LXG_STARTMODE"), "LX");
  // The inherited proxy never reaches a tool; wrongly cased names are not exported.
  EXPECT_EQ(tool->env.at("http_proxy"), std::nullopt);
  EXPECT_EQ(tool->env.at("HTTP_PROXY"), std::nullopt);
  if (!lxt::is_wine()) {  // Windows environment names ignore letter case
    EXPECT_EQ(tool->env.at("kestrel_home"), std::nullopt);
    EXPECT_EQ(tool->env.at("tmpdir"), std::nullopt);
  }
}

// A directory name an administrator may choose, as Shift_JIS bytes, and
// what the cycle must do with it on the target that runs.
struct DirName {
  std::string name;
  const char* refused_native;   // the reason in the refusal, or null: the cycle acts on it
  const char* refused_windows;  // likewise for the Windows build
  bool windows_name = true;     // a name Windows allows at all
};

std::vector<DirName> chosen_names() {
  const char* kExpands = "holds percent signs that the command interpreter would expand";
  const char* kDropped = "has a part that ends in a dot or a blank, which Windows drops";
  return {
      {"g old", nullptr, nullptr},
      {"g,old", nullptr, nullptr},
      {"g;old", nullptr, nullptr},
      {"g=old", nullptr, nullptr},
      {"g&old", nullptr, nullptr},
      {"g(old)", nullptr, nullptr},
      {"g^old", nullptr, nullptr},
      {"g!old", nullptr, nullptr},
      {"g,/S,old", nullptr, nullptr, false},  // "/" separates on Windows
      {"g|old", nullptr, nullptr, false},
      {"g<old>", nullptr, nullptr, false},
      {"g\told", nullptr, nullptr, false},
      {"g%OS%", kExpands, kExpands},
      {"g%PATH%old", kExpands, kExpands},
      {"g%", nullptr, nullptr},  // a lone percent sign expands nothing
      {"g.", nullptr, kDropped},
      {"g ", nullptr, kDropped},
      {"g\"old", "holds a double quote", "holds a double quote", false},
      // Shift_JIS characters whose second byte is "\" and "|".
      {"g\x95\x5C", nullptr, nullptr},
      {"g\x83\x7C" "old", nullptr, nullptr},
      {"g\x95\x5C" "old", nullptr, nullptr},
  };
}

// The cycle's composed lines ("type W\gatherinput | ...", "rmdir /S /Q
// W\cache-liburl") and its removal of W\localmap.cf act on W and on no
// neighbour: neither "g", whose name is a prefix of W's, nor the "old" that
// a separator would make of W's rest. Or W is refused before anything runs.
TEST_F(Cycle, ComposedLinesActOnTheWorkingDirectoryAndNoNeighbour) {
  const auto fs_name = [](const std::string& sjis) {
    // Wine keeps Windows names as UTF-8 in the POSIX file system.
    return lxt::is_wine() ? lxt::convert(sjis, "UTF-8", "CP932") : sjis;
  };
  for (const DirName& row : chosen_names()) {
    if (lxt::is_wine() && !row.windows_name) continue;
    SCOPED_TRACE(row.name);
    const char* refusal = lxt::is_wine() ? row.refused_windows : row.refused_native;
    // "g" beside W, and "old" in the current directory, where a relative
    // rest of a split name would land.
    for (const std::string neighbour : {"g/g", "old"}) {
      dir_.mkdir(neighbour.substr(0, neighbour.find('/')));
      dir_.mkdir(neighbour);
      dir_.mkdir(neighbour + "/cache-liburl");
      for (const char* file : {"localmap.cf", "HTTPAuth.cf", "FTPAuth.cf", "gatherinput", "cyclerun.ini"}) {
        dir_.write(neighbour + "/" + file, "neighbour");
      }
    }
    const std::string ours = "g/" + fs_name(row.name);
    const std::string ours_host = dir_.host("g") + lxt::host_sep() + row.name;
    dir_.mkdir(ours);
    dir_.mkdir(ours + "/cache-liburl");
    dir_.write(ours + "/cache-liburl/page", "cached");
    dir_.write(ours + "/gatherinput", kUrls);
    dir_.write(ours + "/localmap.cf", "m");
    std::string text = base_settings();
    text.replace(text.find("Working-Directory=" + work()), ("Working-Directory=" + work()).size(),
                 "Working-Directory=" + ours_host);
    // Given from outside W: Windows would read "g.\cyclerun.ini" as the
    // neighbour's.
    dir_.write(ours + "/cyclerun.ini", text);
    dir_.write("run.ini", text);
    lxt::RunOptions options;
    options.set("LXT_SEEDURLS_STDIN", "read");
    const RunResult result = cyclerun({dir_.host("run.ini")}, options);
    EXPECT_EQ(result.status, 0);
    if (refusal != nullptr) {
      EXPECT_TRUE(matches(result.err, "^" + kPrefix + "ERROR: .* is invalid.  \\(Working-Directory " +
                                          std::regex_replace(refusal, std::regex("[.()]"), "\\$&") + ".\\)\n$"))
          << result.err;
      EXPECT_TRUE(journal().empty());
      for (const char* kept : {"cache-liburl/page", "localmap.cf", "gatherinput", "cyclerun.ini"}) {
        EXPECT_TRUE(dir_.exists(ours + "/" + kept)) << kept;
      }
    } else {
      EXPECT_EQ(result.err, "");
      ASSERT_NE(find("seedurls"), nullptr);
      EXPECT_EQ(lxt::lf(find("seedurls")->stdin_data.value_or("<none>")), kUrls);
      for (const char* gone : {"cache-liburl", "localmap.cf", "gatherinput", "cyclerun.ini"}) {
        EXPECT_FALSE(dir_.exists(ours + "/" + gone)) << gone;
      }
    }
    for (const std::string neighbour : {"g/g", "old"}) {
      EXPECT_TRUE(dir_.exists(neighbour + "/cache-liburl")) << neighbour;
      for (const char* file : {"localmap.cf", "HTTPAuth.cf", "FTPAuth.cf", "gatherinput", "cyclerun.ini"}) {
        EXPECT_EQ(dir_.read(neighbour + "/" + file), "neighbour") << neighbour << "/" << file;
      }
    }
    std::filesystem::remove_all(dir_.file("g"));
    std::filesystem::remove_all(dir_.file("old"));
    std::filesystem::remove(dir_.file("journal"));
  }
}

// A link followed by "..": every step names the one directory the kernel
// resolves, where the tools that wrote gatherinput reached it; the text's
// reading ("other") is never touched.
TEST_F(Cycle, EveryStepActsOnTheOneResolvedWorkingDirectory) {
  if (lxt::is_wine()) GTEST_SKIP() << "Windows resolves \"..\" by the text throughout: one reading already";
  dir_.mkdir("other");
  dir_.mkdir("other/cache-liburl");
  dir_.write("other/localmap.cf", "other");
  dir_.write("other/gatherinput", "http://other/\n");
  dir_.mkdir("g2");
  dir_.mkdir("g2/sub");
  dir_.mkdir("g2/cache-liburl");
  dir_.write("g2/localmap.cf", "m");
  dir_.write("g2/gatherinput", kUrls);
  ASSERT_EQ(::symlink("../g2/sub", dir_.file("other/cur").c_str()), 0);
  std::string text = base_settings();
  text.replace(text.find("Working-Directory=" + work()), ("Working-Directory=" + work()).size(),
               "Working-Directory=" + dir_.host("other/cur/.."));
  dir_.write("g2/cyclerun.ini", text);
  lxt::RunOptions options;
  options.set("LXT_SEEDURLS_STDIN", "read");
  const RunResult result = cyclerun({dir_.host("g2/cyclerun.ini")}, options);
  EXPECT_EQ(result.err, "");
  ASSERT_NE(find("seedurls"), nullptr);
  EXPECT_EQ(lxt::lf(find("seedurls")->stdin_data.value_or("<none>")), kUrls);
  for (const char* gone : {"cache-liburl", "localmap.cf", "gatherinput", "cyclerun.ini"}) {
    EXPECT_FALSE(dir_.exists("g2/" + std::string(gone))) << gone;
  }
  EXPECT_TRUE(dir_.exists("other/cache-liburl"));
  EXPECT_EQ(dir_.read("other/localmap.cf"), "other");
  EXPECT_EQ(dir_.read("other/gatherinput"), "http://other/\n");
}

TEST_F(Cycle, AWorkingDirectoryWithADoubleQuoteIsRefusedBeforeAnythingRuns) {
  std::string text = base_settings();
  text.replace(text.find("Working-Directory=" + work()), ("Working-Directory=" + work()).size(),
               "Working-Directory=" + work() + "\"x");
  const RunResult result = cyclerun({settings(text)});
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(matches(result.err, "^" + kPrefix + "ERROR: .* is invalid.  \\(Working-Directory holds a double quote.\\)\n$"))
      << result.err;
  EXPECT_TRUE(journal().empty());
  EXPECT_TRUE(dir_.exists(in_work("gatherinput")));
}

// A working directory whose name, as the file system gives it, means another
// path to the steps is refused before anything runs, and neither it nor the
// neighbour it would name is touched: natively a "\" in a directory's own
// name (reached through a link, or as the current directory of "."), and
// "g\.." as the current directory; under Wine (code page 932) a yen sign,
// which a best fit would turn into "\". Natively the yen sign is a name of
// its own, where the cycle runs.
TEST_F(Cycle, AWorkingDirectoryWhoseNameChangesMeaningIsRefused) {
  struct Row {
    std::string dir;        // the working directory, under the test folder
    std::string value;      // Working-Directory ("": the link "lnk" to dir)
    std::string neighbour;  // what the name would mean to a step
    bool native, wine;      // the case exists there
    bool runs;              // natively the cycle runs in dir
  };
  const Row rows[] = {
      {"v\\w", "", "v/w", true, false, false},
      {"v\\w", ".", "v/w", true, false, false},
      {"p/g\\..", ".", "p", true, false, false},
      {"v\xC2\xA5w", ".", "v/w", true, true, true},
  };
  const auto plant = [&](const std::string& d, const std::string& text) {
    dir_.mkdir(d);
    dir_.mkdir(d + "/cache-liburl");
    for (const char* f : {"localmap.cf", "gatherinput"}) dir_.write(d + "/" + f, text);
  };
  for (const Row& row : rows) {
    if (lxt::is_wine() ? !row.wine : !row.native) continue;
    SCOPED_TRACE(row.dir);
    const bool runs = row.runs && !lxt::is_wine();
    for (const char* d : {"v", "p", "lnk", "journal"}) std::filesystem::remove_all(dir_.file(d));
    plant(row.neighbour.substr(0, row.neighbour.find('/')), "neighbour");
    plant(row.neighbour, "neighbour");
    plant(row.dir, kUrls);
    if (row.value.empty()) {
      ASSERT_EQ(::symlink(row.dir.c_str(), dir_.file("lnk").c_str()), 0);
    }
    std::string text = base_settings();
    text.replace(text.find("Working-Directory=" + work()), ("Working-Directory=" + work()).size(),
                 "Working-Directory=" + (row.value.empty() ? dir_.host("lnk") : row.value));
    dir_.write("run.ini", text);
    lxt::RunOptions options;
    options.search_dirs.push_back(install_.tools_dir());
    options.cwd = dir_.file(row.dir);
    options.set("LXT_SEEDURLS_STDIN", "read");
    const RunResult result = run_program("cyclerun", {dir_.host("run.ini")}, options);
    EXPECT_EQ(result.status, 0);
    if (runs) {
      EXPECT_EQ(result.err, "");
      ASSERT_NE(find("seedurls"), nullptr);
      EXPECT_EQ(lxt::lf(find("seedurls")->stdin_data.value_or("<none>")), kUrls);
      EXPECT_FALSE(dir_.exists(row.dir + "/localmap.cf"));
    } else {
      EXPECT_TRUE(matches(result.err, "^" + kPrefix + "ERROR: .* is invalid.  \\(Working-Directory leads to a path "
                                                      "that cannot be named exactly .*\n$"))
          << result.err;
      EXPECT_TRUE(journal().empty());
      EXPECT_EQ(dir_.read(row.dir + "/localmap.cf"), kUrls);
      EXPECT_TRUE(dir_.exists(row.dir + "/cache-liburl"));
    }
    EXPECT_EQ(dir_.read(row.neighbour + "/localmap.cf") + dir_.read(row.neighbour + "/gatherinput"),
              "neighbourneighbour");
    EXPECT_TRUE(dir_.exists(row.neighbour + "/cache-liburl"));
  }
}

// The run's files are removed as files only: a directory or a link in the
// place of one is left as it is, with a line that says so, and what a link
// leads to is never touched; the cycle goes on. A read-only file goes.
TEST_F(Cycle, TheRunsSettingsFilesAreRemovedAsFilesOnly) {
  struct Row {
    std::string kind;
    bool removed;
  };
  const Row rows[] = {{"read-only file", true}, {"directory", false}, {"link to a directory", false},
                      {"link to a file", false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.kind);
    // Wine shows a POSIX link to a file as that file (no reparse point) and
    // removes what it leads to; Windows opens the link itself, which is left.
    if (lxt::is_wine() && row.kind == "link to a file") continue;
    for (const char* d : {"victim", "work/localmap.cf", "journal"}) std::filesystem::remove_all(dir_.file(d));
    dir_.mkdir("victim");
    dir_.write("victim/keep", "k");
    dir_.write("work/gatherinput", kUrls);
    if (row.kind == "read-only file") {
      dir_.write("work/localmap.cf", "m");
      make_read_only(dir_.file("work/localmap.cf"));
    }
    if (row.kind == "directory") dir_.mkdir("work/localmap.cf");
    if (row.kind.starts_with("link")) {
      const std::string target = row.kind == "link to a file" ? "../victim/keep" : "../victim";
      ASSERT_EQ(::symlink(target.c_str(), dir_.file("work/localmap.cf").c_str()), 0);
    }
    const RunResult result = cyclerun({settings(base_settings())});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(dir_.exists("work/localmap.cf"), !row.removed);
    EXPECT_EQ(matches(result.err, kPrefix + "ERROR: .*localmap\\.cf is not a file: it is left in place\\.\n"),
              !row.removed)
        << result.err;
    EXPECT_EQ(dir_.read("victim/keep"), "k");
    EXPECT_NE(find("storeseal"), nullptr) << "the cycle goes on";
  }
}

TEST_F(Cycle, ProxyFromTheSettingsReachesTheTools) {
  env_names_ = "http_proxy";
  const std::string path = settings(base_settings() + "http_proxy=http://proxy.example.jp:8080\n");
  lxt::RunOptions options;
  options.set("http_proxy", "http://inherited:3128");
  EXPECT_EQ(cyclerun({path}, options).status, 0);
  ASSERT_NE(find("essence"), nullptr);
  EXPECT_EQ(find("essence")->env.at("http_proxy"), "http://proxy.example.jp:8080");
}

TEST_F(Cycle, WithoutProductionDatabaseNoExpiryAndNoIndex) {
  dir_.write("data/INDEX.gdbm", "index");
  dir_.write("data/MD5.gdbm", "md5");
  EXPECT_EQ(cyclerun({settings(base_settings())}).status, 0);
  const auto ran = programs();
  EXPECT_EQ(std::count(ran.begin(), ran.end(), "agecull"), 0);
  EXPECT_EQ(std::count(ran.begin(), ran.end(), "keybuild"), 0);
  EXPECT_EQ(std::count(ran.begin(), ran.end(), "storeseal"), 1);
  EXPECT_TRUE(dir_.exists("data/INDEX.gdbm"));
  EXPECT_TRUE(dir_.exists("data/MD5.gdbm"));
}

TEST_F(Cycle, FailingToolsDoNotStopTheCycle) {
  dir_.write("data/PRODUCTION.gdbm", "prod");
  dir_.write("data/INDEX.gdbm", "index");
  lxt::RunOptions options;
  options.set("LXT_AGECULL_EXIT", "1").set("LXT_LINKPRUNE_EXIT", "3").set("LXT_ESSENCE_EXIT", "2");
  EXPECT_EQ(cyclerun({settings(base_settings())}, options).status, 0);
  const auto ran = programs();
  EXPECT_EQ(ran.size(), 6u);
  EXPECT_EQ(ran.back(), "storeseal");
  EXPECT_FALSE(dir_.exists("data/INDEX.gdbm"));
}

TEST_F(Cycle, OptionalCommandsMayBeMissing) {
  dir_.write("data/PRODUCTION.gdbm", "prod");
  const std::string path = settings("Data-Directory=" + data() + "\nWorking-Directory=" + work() +
                                    "\nseedcmd=seedurls.exe\nessencecmd=essence.exe\n");
  const RunResult result = cyclerun({path});
  EXPECT_EQ(result.status, 0);
  // The interpreter may say that there is no cache to remove (in its own
  // words); no request is built without a name.
  EXPECT_TRUE(matches(result.err, "\n" + kPrefix + "ERROR: .* is invalid\\.  \\(Gatherer-Name is lost\\.\\)\n$"))
      << result.err;
  EXPECT_EQ(result.out, "");
  auto ran = programs();
  std::sort(ran.begin(), ran.end());
  EXPECT_EQ(ran, (std::vector<std::string>{"essence", "seedurls"}));
  EXPECT_FALSE(dir_.exists("work/gatherinput"));
}

TEST_F(Cycle, StartFailureEndsTheCycleWhereItHappens) {
  dir_.mkdir("work/cache-liburl");
  const std::string line = "linkprunecmd=no-such-linkprune.exe -x";
  // A later line for a name replaces an earlier one.
  const RunResult result = cyclerun({settings(base_settings() + line + "\n")});
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(matches(result.err, "^" + lxt::diagnostic_prefix("exec_cmd") + "Error occured in CreateProcess function "
                                  "\\(error information = 2\\)\\.\n cmd = no-such-linkprune\\.exe -x\n$"))
      << result.err;
  EXPECT_TRUE(journal().empty());
  // Nothing of the clean-up happened.
  EXPECT_TRUE(dir_.exists("work/cache-liburl"));
  EXPECT_TRUE(dir_.exists("work/gatherinput"));
  EXPECT_TRUE(dir_.exists("work/cyclerun.ini"));
}

TEST_F(Cycle, StoresealStartFailureComesAfterTheCleanUp) {
  const std::string path = settings(base_settings() + "storesealcmd=no-such-storeseal.exe\n");
  const RunResult result = cyclerun({path});
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(matches(result.err, "cmd = no-such-storeseal\\.exe\n$")) << result.err;
  EXPECT_FALSE(dir_.exists("work/gatherinput"));
  EXPECT_FALSE(dir_.exists("work/cyclerun.ini"));
}

TEST_F(Cycle, MissingPipelineCommandsAreReported) {
  struct Case {
    std::string lines;
    std::string message;
  };
  const std::string dirs = "Data-Directory=" + data() + "\nWorking-Directory=" + work() + "\n";
  for (const Case& c : {Case{dirs + "seedcmd=seedurls.exe\n", "essence command is lost."},
                        Case{dirs + "essencecmd=essence.exe\n", "seedurls command is lost."},
                        Case{dirs, "seedurls command is lost."}, Case{"", "seedurls command is lost."},
                        Case{"seedcmd=seedurls.exe\nessencecmd=essence.exe\n", "Working-Directory is lost."}}) {
    dir_.mkdir("work/cache-liburl");
    const std::string path = settings(c.lines);
    const RunResult result = cyclerun({path});
    EXPECT_EQ(result.status, 0);
    const std::string expected = "^" + kPrefix + "ERROR: " + std::regex_replace(path, std::regex(R"([\\.])"), R"(\$&)") +
                                 " is invalid\\.  \\(" + c.message + "\\)\n$";
    EXPECT_TRUE(matches(result.err, expected)) << result.err;
    EXPECT_TRUE(dir_.exists("work/cache-liburl"));
    EXPECT_TRUE(dir_.exists("work/cyclerun.ini"));
  }
  EXPECT_TRUE(journal().empty());
}

TEST_F(Cycle, KeepCacheKeepsTheCacheForValuesBeginningWithY) {
  for (const std::string value : {"yes", "Y", "y", "no", "1", "true", ""}) {
    dir_.mkdir("work/cache-liburl");
    dir_.write("work/gatherinput", kUrls);
    const std::string line = value.empty() ? "" : "Keep-Cache=" + value + "\n";
    EXPECT_EQ(cyclerun({settings(base_settings() + line)}).status, 0);
    EXPECT_EQ(dir_.exists("work/cache-liburl"), value[0] == 'y' || value[0] == 'Y') << value;
  }
}

// Under a small stack (which its children inherit) the cycle and the
// interpreter that types the URL input work on: no buffer of that size
// lives on the stack.
TEST_F(Cycle, ASmallStackIsEnough) {
  if (lxt::is_wine()) GTEST_SKIP() << "the stack limit is the native system's";
  lxt::RunOptions options;
  options.set("LXT_SEEDURLS_STDIN", "read");
  options.search_dirs.push_back(install_.tools_dir());
  const RunResult result =
      run_argv({"/usr/bin/prlimit", "--stack=65536", lxt::program("cyclerun"), settings(base_settings())}, options);
  EXPECT_EQ(result.status, 0) << result.err;
  ASSERT_NE(find("seedurls"), nullptr);
  EXPECT_EQ(lxt::lf(find("seedurls")->stdin_data.value_or("<none>")), kUrls);
  EXPECT_NE(find("storeseal"), nullptr);
  // The interpreter's type alone, on the main thread's stack.
  dir_.write("typed", kUrls);
  const RunResult typed = run_argv({"/usr/bin/prlimit", "--stack=65536", lxt::program("cmd"), "/C", "type typed"});
  EXPECT_EQ(typed.status, 0) << typed.err;
  EXPECT_EQ(typed.out, kUrls);
}

TEST_F(Cycle, DebugModeKeepsTheRunFiles) {
  EXPECT_EQ(cyclerun({settings(base_settings() + "KESTREL_DEBUG=1\n")}).status, 0);
  EXPECT_TRUE(dir_.exists("work/cyclerun.ini"));
  EXPECT_TRUE(dir_.exists("work/gatherinput"));

  lxt::RunOptions inherited;
  inherited.set("KESTREL_DEBUG", "");
  if (!lxt::is_wine()) {  // an empty variable cannot be inherited on Windows
    EXPECT_EQ(cyclerun({settings(base_settings())}, inherited).status, 0);
    EXPECT_TRUE(dir_.exists("work/cyclerun.ini"));
  }
}

TEST_F(Cycle, TheSettingsFileDeletedIsTheOneInTheWorkingDirectory) {
  dir_.write("other.ini", base_settings());
  settings("left over");
  EXPECT_EQ(cyclerun({dir_.host("other.ini")}).status, 0);
  EXPECT_TRUE(dir_.exists("other.ini"));
  EXPECT_FALSE(dir_.exists("work/cyclerun.ini"));
}

TEST_F(Cycle, UnreadableSettingsEndTheRunWithStatusOne) {
  const RunResult missing = cyclerun({dir_.host("missing.ini")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(matches(missing.err, "^" + kPrefix + "ERROR: Cannot open .*missing\\.ini \\(errno=2\\)\\.\n$")) << missing.err;

  // A directory is no settings file, refused alike on both targets.
  const RunResult directory = cyclerun({dir_.host("work")});
  EXPECT_EQ(directory.status, 1);
  EXPECT_TRUE(matches(directory.err, "^" + kPrefix + "ERROR: Cannot open .*work \\(errno=13\\)\\.\n$")) << directory.err;

  // A zero byte inside a line would hide what follows it: refused, never cut.
  const RunResult zero = cyclerun({settings(base_settings() + "Lorvex-Lang=x" + std::string(1, '\0') + "KESTREL_X=1\n")});
  EXPECT_EQ(zero.status, 1);
  EXPECT_TRUE(matches(zero.err, "^" + kPrefix + "ERROR: .*cyclerun\\.ini: line 10: the line holds a zero byte\\.\n$")) << zero.err;

  // A file saved as Unicode is refused in one line that names its encoding,
  // and none of its lines is acted on, not even those the UTF-8 mark leaves
  // whole.
  for (const auto& [text, encoding] : lxt::saved_as_unicode(base_settings())) {
    const RunResult marked = cyclerun({settings(text)});
    EXPECT_EQ(marked.status, 1) << encoding;
    EXPECT_TRUE(matches(marked.err, "^" + kPrefix + "ERROR: .*cyclerun\\.ini is saved as " + encoding +
                                        " with a byte-order mark; save it as ANSI \\(Shift_JIS\\)\\.\n$"))
        << marked.err;
  }

  // Lines that cannot be split end the run without a word.
  for (const std::string bad : {"Gatherer-Name=", "Keep-Cache", "   ", " #comment", "=", "=="}) {
    const RunResult result = cyclerun({settings(base_settings() + bad + "\n")});
    EXPECT_EQ(result.status, 1) << bad;
    EXPECT_EQ(result.err, "") << bad;
  }
  EXPECT_TRUE(journal().empty());
}

TEST_F(Cycle, SplittingKeepsEverythingBehindTheFirstEqualsSign) {
  env_names_ = "KESTREL_A,KESTREL_B";
  const std::string path = settings("# comment\n\n==KESTREL_A==x=y\nKESTREL_B= spaced \r\n" + base_settings() +
                                    "Working-Directory=" + work() + "\n");
  EXPECT_EQ(cyclerun({path}).status, 0);
  ASSERT_NE(find("linkprune"), nullptr);
  // The line goes into the environment as written: with its leading "=" it names no variable.
  EXPECT_EQ(find("linkprune")->env.at("KESTREL_A"), std::nullopt);
  EXPECT_EQ(find("linkprune")->env.at("KESTREL_B"), " spaced ");
}

TEST_F(Cycle, OverlongSettingsAreRefusedNeverCut) {
  // A line of exactly 1559 characters fits; one more does not.
  const std::string fits = "Lorvex-Lang=" + std::string(1559 - 12, 'j');
  EXPECT_EQ(cyclerun({settings(base_settings() + fits + "\n")}).status, 0);
  EXPECT_EQ(programs().size(), 4u);

  dir_.write("work/gatherinput", kUrls);
  const RunResult line = cyclerun({settings(base_settings() + fits + "j\n")});
  EXPECT_EQ(line.status, 1);
  EXPECT_TRUE(matches(line.err, "^" + kPrefix + "ERROR: .*cyclerun\\.ini: line 10: the line is longer than 1559 characters\\.\n$"))
      << line.err;

  const RunResult name = cyclerun({settings(std::string(32, 'N') + "=1\n")});
  EXPECT_EQ(name.status, 1);
  EXPECT_TRUE(matches(name.err, "^" + kPrefix + "ERROR: .*cyclerun\\.ini: line 1: the name is longer than 31 bytes\\.\n$"))
      << name.err;
  const RunResult name31 = cyclerun({settings(std::string(31, 'N') + "=1\n")});
  EXPECT_EQ(name31.status, 0);
  EXPECT_TRUE(matches(name31.err, "Warnig: N{31}=1 is not processed")) << name31.err;
}

TEST_F(Cycle, OverlongPipelineIsRefusedAndTheCycleEnds) {
  const std::string path = settings(base_settings() + "essencecmd=essence.exe " + std::string(1500, 'x') + "\n" +
                                    "seedcmd=seedurls.exe " + std::string(1000, 'y') + "\n");
  const RunResult result = cyclerun({path});
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(matches(result.err, "is invalid\\.  \\(the URL seeding pipeline is longer than 2079 characters\\.\\)\n$"))
      << result.err;
  EXPECT_EQ(programs(), (std::vector<std::string>{"linkprune"}));
  EXPECT_TRUE(dir_.exists("work/gatherinput"));
}

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

// Many cycles ending at once, one search service: the cycle lock lets one
// notice at a time through, and every run either gives its notice or says why
// not. The service double holds each connection unanswered for a while and
// counts connections open at the same time.
TEST_F(Notice, ManyCyclesEndingAtOnceSendOneNoticeAtATime) {
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

  // Each run has its own working and data directory; their storeseal holds
  // until every run has reached it, so that all of them go on to the notice
  // together.
  std::vector<std::string> settings_paths;
  for (int i = 0; i < kRuns; ++i) {
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
  std::vector<RunResult> results(kRuns);
  std::vector<std::atomic<bool>> ended(kRuns);
  std::vector<std::thread> runs;
  for (int i = 0; i < kRuns; ++i) {
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
  // A run that ended without reaching its storeseal ends the wait as well.
  const auto reached = [&](int i) { return dir_.exists("ready/" + std::to_string(i)); };
  const bool all_there = lxt::wait_until(
      [&] {
        for (int i = 0; i < kRuns; ++i) {
          if (!reached(i) && !ended[i]) return false;
        }
        return true;
      },
      std::chrono::minutes(4));
  dir_.write("go", "");
  for (auto& run : runs) run.join();
  ASSERT_TRUE(all_there);
  for (int i = 0; i < kRuns; ++i) {
    ASSERT_TRUE(reached(i)) << "run " << i << " ended before its storeseal:\n" << results[i].out << results[i].err;
  }
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
  for (int i = 0; i < kRuns; ++i) {
    const RunResult& result = results[i];
    SCOPED_TRACE("run " + std::to_string(i) + "\n" + result.out + result.err);
    EXPECT_EQ(result.status, 0);
    EXPECT_FALSE(result.timed_out);
    // The page says what became of the notice: given, held back by the lock, or failed.
    std::smatch first;
    ASSERT_TRUE(std::regex_search(result.out, first, std::regex("^Content-Type: text/html\r?\n\r?\n<!-- (LXCM[0-9]+-[EI])")));
    if (first[1] == "LXCM601-I") {
      ++noticed;
    } else if (first[1] == "LXCM016-E") {
      ++held_back;
    } else {
      EXPECT_EQ(first[1].str().back(), 'E');
    }
  }
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
