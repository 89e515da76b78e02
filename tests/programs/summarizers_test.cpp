// The summarizer wrappers, run as black boxes with the recording double
// standing in for the HTML summarizer and the document filter.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "tests/programs/program_test.h"

namespace {

namespace fs = std::filesystem;
using lxt::Record;
using lxt::RunResult;

using lxt::host_dir;

// The text the target's runtime gives for a missing file: glibc's natively,
// the Windows runtime's under Wine.
std::string text_of(int code) { return lxt::is_wine() ? "No such file or directory" : std::strerror(code); }

// One error line of the summarizer runtime: the process id right-aligned in
// eight columns, the local time, the ERROR marker and the message.
std::string error_line(const std::string& message) {
  return "^(?=[ 0-9]{8}: ) *[1-9][0-9]*: [0-9]{8} [0-9]{2}:[0-9]{2}:[0-9]{2}: ERROR: " + lxt::literal(message) +
         "\n$";
}

class Summarizers : public lxt::ProgramTest {
 protected:
  void SetUp() override {
    dir_.mkdir("tools");
    dir_.mkdir("work");
  }

  // The outside programs, as copies of the recording double.
  void install(const std::vector<std::string>& names) {
    for (const auto& name : names) lxt::install_double("lxrecord", dir_.file("tools"), name);
  }

  // Runs the wrapper in work/ (or cwd) with the doubles' folder searched
  // first; the recorded variables are KESTREL_HOME and LXG_STARTMODE.
  RunResult run(const std::string& program, const std::vector<std::string>& args,
                std::vector<lxt::EnvChange> env = {}, const std::string& cwd = "") const {
    lxt::RunOptions options;
    options.env = std::move(env);
    options.search_dirs.push_back(dir_.file("tools"));
    options.cwd = cwd.empty() ? dir_.file("work") : cwd;
    return run_program(program, args, options, "KESTREL_HOME,LXG_STARTMODE");
  }

  // The only start recorded; a test failure when there is not exactly one.
  std::optional<Record> the_start() const {
    auto records = journal();
    EXPECT_EQ(records.size(), 1u);
    if (records.size() != 1) return std::nullopt;
    return records[0];
  }

  void clear_journal() const { fs::remove(journal_path()); }
};

// ---- htmlsift and htmlsift2 ----------------------------------------------------

TEST_F(Summarizers, HtmlsiftChoosesTheShiftJisSummarizerOnlyForExactlyLX) {
  install({"htmlloose", "htmlloose_SJIS"});
  struct Case {
    std::optional<std::string> mode;
    const char* program;
  };
  const Case cases[] = {{"LX", "htmlloose_SJIS"},
                        {"lx", "htmlloose"},
                        {"LX ", "htmlloose"},
                        {"", "htmlloose"},
                        {std::nullopt, "htmlloose"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode ? "LXG_STARTMODE=\"" + *c.mode + "\"" : "LXG_STARTMODE unset");
    clear_journal();
    const RunResult r = run("htmlsift", {"page.html"}, {{"LXG_STARTMODE", c.mode}});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const auto start = the_start();
    ASSERT_TRUE(start);
    EXPECT_EQ(start->program, c.program);
    EXPECT_EQ(start->args, (std::vector<std::string>{"--body-text", "page.html"}));
  }
}

TEST_F(Summarizers, Htmlsift2AlwaysRunsTheShiftJisSummarizerOnTheWholeDocument) {
  install({"htmlloose", "htmlloose_SJIS"});
  for (const std::optional<std::string>& mode : {std::optional<std::string>("LX"), std::optional<std::string>("lx"),
                                                std::optional<std::string>()}) {
    SCOPED_TRACE(mode.value_or("(unset)"));
    clear_journal();
    const RunResult r = run("htmlsift2", {"page.html"}, {{"LXG_STARTMODE", mode}});
    EXPECT_EQ(r.status, 0);
    const auto start = the_start();
    ASSERT_TRUE(start);
    EXPECT_EQ(start->program, "htmlloose_SJIS");
    EXPECT_EQ(start->args, (std::vector<std::string>{"page.html"}));
  }
}

TEST_F(Summarizers, HtmlPathGoesUnquotedAndTheChildSharesDirectoryAndStreams) {
  install({"htmlloose"});
  // A path with blanks reaches the child as several words; a missing file is
  // still passed on; the summary is what the child writes; its status is not
  // the wrapper's.
  const RunResult r = run("htmlsift", {"no such page.html"},
                          {{"LXG_STARTMODE", std::nullopt},
                           {"LXT_PRINT", std::string("the summary\n")},
                           {"LXT_EXIT", std::string("7")}});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "the summary\n");
  EXPECT_EQ(r.err, "");
  const auto start = the_start();
  ASSERT_TRUE(start);
  EXPECT_EQ(start->args, (std::vector<std::string>{"--body-text", "no", "such", "page.html"}));
  EXPECT_EQ(start->cwd, host_dir(dir_.file("work")));
}

TEST_F(Summarizers, HtmlUsageForAnythingButOneArgument) {
  install({"htmlloose", "htmlloose_SJIS"});
  for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"a.html", "b.html"}}) {
    SCOPED_TRACE(args.size());
    RunResult r = run("htmlsift", args, {{"LXG_STARTMODE", std::string("LX")}});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Usage: htmlsift[.exe] filename\n");
    r = run("htmlsift2", args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Usage: htmlsift2[.exe] filename\n");
  }
  EXPECT_TRUE(journal().empty());
}

TEST_F(Summarizers, HtmlFailedStartIsOneErrorLineAndStatusZero) {
  install({"htmlloose"});  // no Shift_JIS summarizer
  RunResult r = run("htmlsift2", {"doc.html"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(std::regex_search(
      r.err, std::regex(error_line("htmlsift2: CreateProcess: htmlloose_SJIS.exe doc.html: " + text_of(ENOENT)))))
      << r.err;

  r = run("htmlsift", {"a b.html"}, {{"LXG_STARTMODE", std::string("LX")}});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(std::regex_search(
      r.err,
      std::regex(error_line("htmlsift: CreateProcess: htmlloose_SJIS.exe --body-text a b.html: " + text_of(ENOENT)))))
      << r.err;
  EXPECT_TRUE(journal().empty());
}

TEST_F(Summarizers, AnErrorLineToAClosedStandardErrorEndsNothing) {
  // A caller that has stopped reading: the line is lost, the status stays.
  lxt::RunOptions options;
  options.cwd = dir_.file("work");
  options.search_dirs.push_back(dir_.file("tools"));
  options.stderr_closed = true;
  for (const auto& args : {std::vector<std::string>{lxt::program("htmlsift2"), "doc.html"},
                           std::vector<std::string>{lxt::program("htmlsift2")}}) {
    const RunResult r = lxt::run(args, options);
    EXPECT_EQ(r.status, args.size() == 2 ? 0 : 1) << args.size();
    EXPECT_EQ(r.out, "");
  }
}

TEST_F(Summarizers, HtmlCommandLineFillsItsBufferButIsNeverCut) {
  install({"htmlloose_SJIS"});
  // "htmlloose_SJIS.exe " and the path: 1023 characters fit, 1024 do not.
  const std::string fits(1023 - std::strlen("htmlloose_SJIS.exe "), 'p');
  RunResult r = run("htmlsift2", {fits});
  EXPECT_EQ(r.status, 0);
  const auto start = the_start();
  ASSERT_TRUE(start);
  EXPECT_EQ(start->args, (std::vector<std::string>{fits}));

  clear_journal();
  r = run("htmlsift2", {fits + "p"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("htmlsift2: the document path is too long"), std::string::npos) << r.err;
  EXPECT_TRUE(journal().empty());
}

// ---- the document-filter summarizers ---------------------------------------------

struct FilterProgram {
  const char* name;
  bool body_only;
};

const FilterProgram kFilterPrograms[] = {
    {"freelancesift", true}, {"ichitarosift", true}, {"ppointsift", false},  {"rtfsift", false},
    {"pdfsift", true},       {"wordsift", false},    {"lotus123sift", true}, {"writesift", true},
};

// The usage text in code page 932: "使用法: NAME.exe ファイル\n".
std::string sjis_usage(const std::string& name) {
  return "\x8e\x67\x97\x70\x96\x40: " + name + ".exe \x83\x74\x83\x40\x83\x43\x83\x8b\n";
}

class FilterSummarizers : public Summarizers {
 protected:
  void SetUp() override {
    Summarizers::SetUp();
    dir_.mkdir("home");
    dir_.mkdir("home/shlibs");
    install({"vezURUduvev"});
  }

  void make_filter_dir() const { dir_.mkdir("home/shlibs/DOCACCESS"); }

  // Product start mode with the framework home in home/.
  std::vector<lxt::EnvChange> product_mode() const {
    return {{"LXG_STARTMODE", std::string("LX")}, {"KESTREL_HOME", dir_.host("home")}};
  }
};

TEST_F(FilterSummarizers, EachProgramAsksForTheBodyAsItsTableSaysInTheFilterDirectory) {
  make_filter_dir();
  for (const FilterProgram& p : kFilterPrograms) {
    SCOPED_TRACE(p.name);
    clear_journal();
    const RunResult r = run(p.name, {"report.doc"}, product_mode());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    auto start = the_start();
    ASSERT_TRUE(start);
    EXPECT_EQ(start->program, "vezURUduvev");
    EXPECT_EQ(start->args, p.body_only ? (std::vector<std::string>{"--body-only", "report.doc"})
                                       : (std::vector<std::string>{"report.doc"}));
    EXPECT_EQ(start->cwd, host_dir(dir_.file("home/shlibs/DOCACCESS")));
    // The child sees the wrapper's environment unchanged.
    EXPECT_EQ(start->env["KESTREL_HOME"], std::optional<std::string>(dir_.host("home")));
    EXPECT_EQ(start->env["LXG_STARTMODE"], std::optional<std::string>("LX"));
  }
}

TEST_F(FilterSummarizers, EachProgramWritesItsShiftJisUsageForAnythingButOneArgument) {
  for (const FilterProgram& p : kFilterPrograms) {
    SCOPED_TRACE(p.name);
    // The argument count comes before the environment.
    for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"a.doc", "b.doc"}}) {
      RunResult r = run(p.name, args, {{"LXG_STARTMODE", std::nullopt}});
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err, sjis_usage(p.name));
    }
  }
  EXPECT_TRUE(journal().empty());
}

TEST_F(FilterSummarizers, OutsideProductStartModeNothingRuns) {
  make_filter_dir();
  const std::vector<std::vector<lxt::EnvChange>> environments = {
      {{"LXG_STARTMODE", std::string("lx")}, {"KESTREL_HOME", dir_.host("home")}},
      {{"LXG_STARTMODE", std::string("LX ")}, {"KESTREL_HOME", dir_.host("home")}},
      {{"LXG_STARTMODE", std::nullopt}, {"KESTREL_HOME", dir_.host("home")}},
      {{"LXG_STARTMODE", std::string("LX")}, {"KESTREL_HOME", std::nullopt}},
  };
  for (const auto& env : environments) {
    // Even a path far too long for the command line is not looked at.
    const RunResult r = run("pdfsift", {std::string(400, 'x')}, env);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
  }
  EXPECT_TRUE(journal().empty());
}

TEST_F(FilterSummarizers, WithoutAFilterDirectoryTheFilterRunsInTheWrappersDirectory) {
  // Absent.
  RunResult r = run("wordsift", {"a.doc"}, product_mode());
  EXPECT_EQ(r.status, 0);
  auto start = the_start();
  ASSERT_TRUE(start);
  EXPECT_EQ(start->cwd, host_dir(dir_.file("work")));

  // A plain file of that name.
  clear_journal();
  dir_.write("home/shlibs/DOCACCESS", "not a directory");
  r = run("wordsift", {"a.doc"}, product_mode());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  start = the_start();
  ASSERT_TRUE(start);
  EXPECT_EQ(start->cwd, host_dir(dir_.file("work")));

  // A plain file above it: the path does not exist either.
  clear_journal();
  dir_.write("plain", "x");
  r = run("wordsift", {"a.doc"}, {{"LXG_STARTMODE", std::string("LX")}, {"KESTREL_HOME", dir_.host("plain")}});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  start = the_start();
  ASSERT_TRUE(start);
  EXPECT_EQ(start->cwd, host_dir(dir_.file("work")));
}

TEST_F(FilterSummarizers, PathGoesUnchangedUnquotedAndTheFiltersStatusIsNotPassedOn) {
  make_filter_dir();
  const std::string relative = std::string("docs") + lxt::host_sep() + "annual report.pdf";
  const RunResult r = run("pdfsift", {relative},
                          {{"LXG_STARTMODE", std::string("LX")},
                           {"KESTREL_HOME", dir_.host("home")},
                           {"LXT_PRINT", std::string("body text\n")},
                           {"LXT_EXIT", std::string("3")}});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "body text\n");
  const auto start = the_start();
  ASSERT_TRUE(start);
  // Relative to the filter directory, where the filter runs.
  EXPECT_EQ(start->args,
            (std::vector<std::string>{"--body-only", std::string("docs") + lxt::host_sep() + "annual", "report.pdf"}));
  EXPECT_EQ(start->cwd, host_dir(dir_.file("home/shlibs/DOCACCESS")));
}

TEST_F(FilterSummarizers, FailedStartIsOneErrorLineAndStatusZero) {
  make_filter_dir();
  fs::remove(dir_.file("tools/" + lxt::exe_name("vezURUduvev")));
  const RunResult r = run("lotus123sift", {"sheet.123"}, product_mode());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(std::regex_search(
      r.err, std::regex(error_line("lotus123sift: CreateProcess: vezURUduvev.exe --body-only sheet.123: " +
                                   text_of(ENOENT)))))
      << r.err;
}

TEST_F(FilterSummarizers, AFilterDirectoryThatCannotBeExaminedEndsWithStatusOne) {
  if (lxt::is_wine()) GTEST_SKIP() << "a symbolic link loop is a POSIX way to make the examination fail";
  // A home that is a loop of symbolic links: the path under it cannot be
  // examined, and it is not simply missing.
  fs::create_symlink("loop", dir_.file("loop"));
  const RunResult r =
      run("freelancesift", {"a.prz"}, {{"LXG_STARTMODE", std::string("LX")}, {"KESTREL_HOME", dir_.file("loop")}});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(std::regex_search(
      r.err, std::regex(error_line(std::string("freelancesift: _stat:: ") + std::strerror(ELOOP)))))
      << r.err;
  EXPECT_TRUE(journal().empty());
}

TEST_F(FilterSummarizers, PathsThatDoNotFitAreRefusedNeverCut) {
  // "%s\shlibs\DOCACCESS" leaves room for a home of 242 characters.
  const std::string base = dir_.host("h");
  const std::string home_fits = base + std::string(242 - base.size(), 'h');
  RunResult r = run("rtfsift", {"a.rtf"}, {{"LXG_STARTMODE", std::string("LX")}, {"KESTREL_HOME", home_fits}});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(journal().size(), 1u);
  clear_journal();
  r = run("rtfsift", {"a.rtf"}, {{"LXG_STARTMODE", std::string("LX")}, {"KESTREL_HOME", home_fits + "h"}});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("rtfsift: KESTREL_HOME is too long"), std::string::npos) << r.err;
  EXPECT_TRUE(journal().empty());

  // The command line has room for a path of 231 characters with
  // "--body-only", 243 without.
  const std::pair<std::string, size_t> rooms[] = {{"pdfsift", 231}, {"wordsift", 243}};
  for (const auto& [program, room] : rooms) {
    SCOPED_TRACE(program);
    clear_journal();
    r = run(program, {std::string(room, 'd')}, product_mode());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(journal().size(), 1u);
    clear_journal();
    r = run(program, {std::string(room + 1, 'd')}, product_mode());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(program + ": the document path is too long"), std::string::npos) << r.err;
    EXPECT_TRUE(journal().empty());
  }
}

}  // namespace
