// The POSIX command interpreter `cmd`, run as the programs run it: "cmd /C
// LINE". The Windows build uses the system's own interpreter: what the lines
// rely on is run on both targets through "cmd.exe /C" (CmdShared); the rest
// of our interpreter is tested natively (Cmd).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "tests/programs/cmd_fixture.h"
#include "tests/programs/program_test.h"

namespace {

// 9009, the status of a program that cannot be found, in a POSIX status byte.
constexpr int kNotRecognizedStatus = 9009 & 0xFF;

using lxt::Cmd;

// ---- pipelines --------------------------------------------------------------

TEST_F(Cmd, TwoCommandPipelineFeedsTheFileIntoTheProgram) {
  dir_.write("urls", "http://a/\r\nhttp://b/\n");
  const lxt::RunResult result = line("type urls | lxrecord from-pipe", recording("read"));
  EXPECT_EQ(result.status, 0);
  const std::vector<lxt::Record> recs = journal();
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_EQ(recs[0].args, std::vector<std::string>{"from-pipe"});
  ASSERT_TRUE(recs[0].stdin_data.has_value());
  EXPECT_EQ(*recs[0].stdin_data, "http://a/\r\nhttp://b/\n");
}

TEST_F(Cmd, ThreeCommandPipelineRunsAtOnceAndEndsWithTheLastStatus) {
  // Far more than a pipe holds: run one after the other, this would block.
  dir_.write("big", std::string(1 << 20, 'x'));
  lxt::RunResult result = line("type big | /bin/sh -c \"cat; exit 3\" | /bin/sh -c \"wc -c; exit 4\"");
  EXPECT_EQ(result.status, 4);
  EXPECT_EQ(result.out, "1048576\n");

  result = line("/bin/sh -c \"exit 6\" | /bin/sh -c \"exit 0\"");
  EXPECT_EQ(result.status, 0);
}

TEST_F(Cmd, ReadersThatStopEarlyDoNotHangTheLine) {
  dir_.write("big", std::string(1 << 20, 'y'));
  dir_.write("small", "tail\n");
  lxt::RunResult result = line("type big | /bin/sh -c \"head -c 3\"");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "yyy");
  // A built-in at the end reads nothing; the writer before it must not wait
  // on a full pipe for ever.
  result = line("type big | /bin/sh -c \"cat; cat big\" | type small");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "tail\n");
}

TEST_F(Cmd, ProgramStatusesPassThrough) {
  EXPECT_EQ(line("/bin/sh -c \"exit 0\"").status, 0);
  EXPECT_EQ(line("/bin/sh -c \"exit 7\"").status, 7);
  EXPECT_EQ(line("/bin/sh -c \"exit 255\"").status, 255);
  EXPECT_EQ(line("/bin/sh -c \"kill -9 $$\"").status, 128 + 9);
  EXPECT_EQ(line("").status, 0);
}

TEST_F(Cmd, WordsAreSplitByTheCommandLineRules) {
  const lxt::RunResult result =
      line(R"(lxrecord "a b" c\"d\" e\\"f g" "" "x|y" "p>q" "r<s" 2\>z)", recording());
  EXPECT_EQ(result.status, 0);
  const std::vector<lxt::Record> recs = journal();
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_EQ(recs[0].args, (std::vector<std::string>{"a b", "c\"d\"", "e\\f g", "", "x|y", "p>q", "r<s", "2\\"}));
  // Every quote counts when pipes and redirections are looked for, escaped
  // or not: each pair above keeps its "|", "<" or ">" as text, while the
  // ">z" after the last word is a redirection.
  EXPECT_TRUE(dir_.exists("z"));
  EXPECT_FALSE(dir_.exists("q"));
  EXPECT_FALSE(dir_.exists("s"));
}

TEST_F(Cmd, ShiftJisSecondBytesAreText) {
  // 0x83 0x7C is one character whose second byte is "|"; 0x95 0x5C one whose
  // second byte is "\".
  const std::string po = "\x83\x7C";
  const std::string hyo = "\x95\x5C";
  dir_.write(hyo + ".txt", "double-byte name\n");
  lxt::RunResult result = line("lxrecord " + po + " \"" + hyo + "\"", recording());
  EXPECT_EQ(result.status, 0);
  const std::vector<lxt::Record> recs = journal();
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_EQ(recs[0].args, (std::vector<std::string>{po, hyo}));

  result = line("type " + hyo + ".txt");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "double-byte name\n");
}

TEST_F(Cmd, WordsGivenSeparatelyAreJoined) {
  dir_.write("f", "joined\n");
  const lxt::RunResult result = lxt::run({lxt::program("cmd"), "/c", "type", "f"}, options());
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "joined\n");
}

// ---- redirections -------------------------------------------------------------

TEST_F(Cmd, OutputAndInputRedirections) {
  dir_.write("in", "line one\nline two\n");
  dir_.write("out", std::string(100, 'o'));  // truncated, not overwritten in place
  lxt::RunResult result = line("type in > out");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(dir_.read("out"), "line one\nline two\n");

  result = line("type in >> out");
  EXPECT_EQ(dir_.read("out"), "line one\nline two\nline one\nline two\n");

  result = line("/bin/sh -c \"tr a-z A-Z\" <in >upper");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(dir_.read("upper"), "LINE ONE\nLINE TWO\n");

  dir_.mkdir("sub");
  result = line("type in>sub\\copy");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(dir_.read("sub/copy"), "line one\nline two\n");

  result = line("type in > \"name with blank\"");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(dir_.read("name with blank"), "line one\nline two\n");
}

TEST_F(Cmd, ErrorRedirectionsInTheirOrder) {
  const std::string both = "/bin/sh -c \"echo O; echo E 1>&2\"";
  lxt::RunResult result = line(both + " 2> err");
  EXPECT_EQ(result.out, "O\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(dir_.read("err"), "E\n");

  result = line(both + " > all 2>&1");
  EXPECT_EQ(result.out + result.err, "");
  EXPECT_EQ(dir_.read("all"), "O\nE\n");

  // 2>&1 first: the error stream goes where the output pointed then.
  result = line(both + " 2>&1 > only");
  EXPECT_EQ(result.out, "E\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(dir_.read("only"), "O\n");

  // Into a pipe.
  result = line("/bin/sh -c \"echo E 1>&2\" 2>&1 | /bin/sh -c \"tr E X\"");
  EXPECT_EQ(result.out, "X\n");
  EXPECT_EQ(result.err, "");

  // The output joins the error stream.
  for (const char* joined : {" >&2", " 1>&2"}) {
    result = line(both + joined);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "O\nE\n");
  }
  // A stream joined to itself stays where it is.
  result = line(both + " >&1 2>&2");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "O\n");
  EXPECT_EQ(result.err, "E\n");
}

TEST_F(Cmd, NullDevice) {
  const lxt::RunResult result = line("/bin/sh -c \"echo O; echo E 1>&2; cat\" > nul 2> \\NUL < Nul");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  EXPECT_FALSE(dir_.exists("nul"));
  EXPECT_FALSE(dir_.exists("NUL"));
  EXPECT_FALSE(dir_.exists("Nul"));
}

TEST_F(Cmd, RedirectionThatCannotBeOpenedSkipsTheCommand) {
  lxt::RunResult result = line("lxrecord < missing", recording());
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err, "");
  EXPECT_TRUE(journal().empty());

  result = line("lxrecord > nodir\\out", recording());
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err, "");
  EXPECT_TRUE(journal().empty());

  // The rest of a pipeline still runs, reading an ended input.
  result = line("type x < missing | /bin/sh -c \"cat; exit 5\"");
  EXPECT_EQ(result.status, 5);
  EXPECT_EQ(result.out, "");
}

// ---- failures ------------------------------------------------------------------

TEST_F(Cmd, ProgramNotFound) {
  lxt::RunResult result = line("no-such-tool arg");
  EXPECT_EQ(result.status, kNotRecognizedStatus);
  EXPECT_EQ(result.err,
            "'no-such-tool' is not recognized as an internal or external command,\n"
            "operable program or batch file.\n");

  result = line("no-such-tool 2> nul");
  EXPECT_EQ(result.status, kNotRecognizedStatus);
  EXPECT_EQ(result.err, "");

  // Only the last command's status counts.
  result = line("no-such-tool | /bin/sh -c \"cat; exit 2\"");
  EXPECT_EQ(result.status, 2);
  EXPECT_NE(result.err, "");
}

TEST_F(Cmd, LinesThatCannotBeParsedRunNothing) {
  // The Windows interpreter refuses these as well; Wine's runs what it can.
  lxt::RunOptions opts = recording();
  opts.set("LXG_BIG", std::string(5000, 'b'));
  for (const char* text : {"lxrecord |", "| lxrecord", "lxrecord | | lxrecord", "lxrecord >", "lxrecord > | lxrecord",
                           "lxrecord <", "lxrecord 2>", "lxrecord 2>&", "lxrecord 2>&3", "lxrecord > \"open",
                           "& lxrecord", "&& lxrecord", "|| lxrecord", "lxrecord & & lxrecord", "lxrecord &&",
                           "lxrecord ||", "lxrecord %LXG_BIG%%LXG_BIG%"}) {
    const lxt::RunResult result = line(text, opts);
    EXPECT_EQ(result.status, 1) << text;
    EXPECT_NE(result.err, "") << text;
  }
  EXPECT_TRUE(journal().empty());
  EXPECT_EQ(line(std::string(9000, 'a')).status, 1);
  // A last "&" has nothing after it to run.
  EXPECT_EQ(line("lxrecord &", opts).status, 0);
}

TEST_F(Cmd, UsageWithoutSlashC) {
  for (const std::vector<std::string>& argv :
       {std::vector<std::string>{lxt::program("cmd")}, std::vector<std::string>{lxt::program("cmd"), "/K", "x"},
        std::vector<std::string>{lxt::program("cmd"), "/C"}}) {
    const lxt::RunResult result = lxt::run(argv, options());
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err, "");
  }
}

// ---- the lines both interpreters run ---------------------------------------------

// "cmd.exe /C LINE" started as the programs start it: our interpreter
// natively, the system's under Wine. The line reaches it through a file, byte
// for byte.
class CmdShared : public lxt::ProgramTest {
 protected:
  void SetUp() override {
    tools_.mkdir("a b");
    for (const char* name : {"ok", "fail"}) {
      lxt::install_double("lxrecord", tools_.path(), name);
    }
    lxt::install_double("lxrecord", tools_.file("a b"), "rec");
  }

  struct Result {
    int status = -1;
    std::string out;
  };

  Result line(const std::string& text, lxt::RunOptions opts = {}) const {
    tools_.write("line", "cmd.exe /C " + text);
    opts.cwd = dir_.path();
    if (!lxt::is_wine()) {
      opts.search_dirs.push_back(lxt::bin_dir());
    }
    opts.search_dirs.push_back(tools_.path());
    for (const lxt::EnvChange& change : lxt::journal_env(tools_.file("journal"))) {
      opts.env.push_back(change);
    }
    opts.set("LXT_FAIL_EXIT", "3");
    const lxt::RunResult run =
        lxt::run({lxt::double_path("lxportdrive"), "run", "@file=" + tools_.host("line")}, opts);
    EXPECT_FALSE(run.timed_out) << text;
    Result result;
    const std::size_t at = run.out.rfind("status=");
    if (at != std::string::npos) {
      result.status = std::stoi(run.out.substr(at + 7));
      result.out = lxt::lf(run.out.substr(0, at));
    }
    return result;
  }

  // The starts since the last call, each as "program arg arg ...".
  std::vector<std::string> starts() const {
    std::vector<std::string> seen;
    for (const lxt::Record& record : lxt::read_journal(tools_.file("journal"))) {
      std::string start = record.program;
      for (const std::string& arg : record.args) {
        start += " " + arg;
      }
      seen.push_back(start);
    }
    std::remove(tools_.file("journal").c_str());
    return seen;
  }

  // The programs it starts, the line and the journal, apart from its working folder dir_.
  lxt::TempDir tools_;
};

TEST_F(CmdShared, VariablesAreExpanded) {
  lxt::RunOptions opts;
  opts.set("LXG_X", "abc");
  opts.unset("LXG_NONE");
  EXPECT_EQ(line("ok %LXG_X% \"%LXG_X% q\" %LXG_X%%LXG_X% %LXG_NONE% 50% %", opts).status, 0);
  EXPECT_EQ(starts(), std::vector<std::string>{"ok abc abc q abcabc %LXG_NONE% 50% %"});
  // A name in any letter case, as Windows has it.
  line("ok %lxg_x% %Lxg_X%", opts);
  EXPECT_EQ(starts(), std::vector<std::string>{"ok abc abc"});
  // The value is read like the rest of the line.
  opts.set("LXG_PIPE", "ok second");
  line("ok first & %LXG_PIPE%", opts);
  EXPECT_EQ(starts(), (std::vector<std::string>{"ok first", "ok second"}));
  if (!lxt::is_wine()) {
    // The Windows interpreter lets the closing "%" of an undefined name open
    // the next one; Wine's keeps it closed.
    line("ok %LXG_NONE%LXG_X%", opts);
    EXPECT_EQ(starts(), std::vector<std::string>{"ok %LXG_NONEabc"});
  }
}

// The interpreter's own commands take , ; = like blanks between names, and a
// quoted name whole: the programs' quoting relies on exactly this.
TEST_F(CmdShared, BuiltinsSplitNamesAtCommasSemicolonsAndEqualSigns) {
  for (const char* name : {"a", "b", "c", "d", "e", "f", "e,f", "g;h", "g", "h"}) dir_.write(name, name);
  for (const char* tree : {"x", "y", "x,y", "z"}) {
    dir_.mkdir(tree);
    dir_.write(std::string(tree) + "/page", "p");
  }
  const struct {
    const char* text;
    std::vector<std::string> gone, kept;
  } cases[] = {
      {"del /F /Q a,b;c=d", {"a", "b", "c", "d"}, {}},
      {"DEL /f \"e,f\" \"g;h\"", {"e,f", "g;h"}, {"e", "f", "g", "h"}},
      {"rmdir /s /q \"x,y\"", {"x,y"}, {"x", "y"}},
      {"rd /S /Q x;y=z", {"x", "y", "z"}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(line(c.text).status, 0);
    for (const std::string& gone : c.gone) EXPECT_FALSE(dir_.exists(gone)) << gone;
    for (const std::string& kept : c.kept) EXPECT_TRUE(dir_.exists(kept)) << kept;
  }
  EXPECT_EQ(line("type e,f;g").out, "efg");
}

TEST_F(CmdShared, SequencesRunByStatus) {
  const struct {
    const char* text;
    std::vector<std::string> starts;
    int status;
    bool by_status;  // "&&" or "||" decide
  } cases[] = {
      {"ok a & fail b & ok c", {"ok a", "fail b", "ok c"}, 0, false},
      {"ok a && fail b && ok c", {"ok a", "fail b"}, 3, true},
      {"fail a || ok b || fail c", {"fail a", "ok b"}, 0, true},
      {"fail a && ok b || ok c", {"fail a", "ok c"}, 0, true},
      {"ok a || ok b & fail c", {"ok a", "fail c"}, 3, true},
      {"ok a > out & ok b 2> err && ok c", {"ok a", "ok b", "ok c"}, 0, false},
      {"ok a ^& b ^| c ^> d \"^&\" x^^y", {"ok a & b | c > d ^& x^y"}, 0, false},
  };
  for (const auto& c : cases) {
    if (c.by_status && lxt::is_wine()) {
      continue;  // Wine's interpreter (8.0) runs both sides whatever a program's status
    }
    EXPECT_EQ(line(c.text).status, c.status) << c.text;
    EXPECT_EQ(starts(), c.starts) << c.text;
  }
  EXPECT_TRUE(dir_.exists("out"));
  EXPECT_TRUE(dir_.exists("err"));
}

TEST_F(CmdShared, OuterQuotesAfterSlashC) {
  const std::string rec = "\"" + lxt::host_join(tools_.file("a b"), lxt::exe_name("rec")) + "\"";
  const struct {
    std::string text;
    std::vector<std::string> starts;
  } cases[] = {
      // Two quotes around a program with a blank: kept.
      {rec + " x", {"rec x"}},
      // More quotes: the first and the last go, the rest is the line.
      {"\"" + rec + " x \"y z\" > out\"", {"rec x y z"}},
      {rec + " x \"y z\"", {}},
      // Two quotes around no program: they go, and what follows stays.
      {"\"ok x\" y", {"ok x y"}},
      {"  \"ok x\"", {"ok x"}},
  };
  for (const auto& c : cases) {
    line(c.text);
    EXPECT_EQ(starts(), c.starts) << c.text;
  }
  EXPECT_TRUE(dir_.exists("out"));
}

TEST_F(CmdShared, TypeNeverAppendsAFileToItself) {
  dir_.write("f1", "one\n");
  for (const char* text : {"type f1 >> f1", "type f1 >> .\\f1"}) {
    EXPECT_NE(line(text).status, 0) << text;
    EXPECT_EQ(dir_.read("f1"), "one\n") << text;
  }
}

}  // namespace
