// The gathering cycle, run as a black box with recording doubles standing in
// for the framework's tools: its steps, its settings and its failures.
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

}  // namespace
