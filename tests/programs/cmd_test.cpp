// The POSIX command interpreter `cmd`, run as the programs run it: "cmd /C
// LINE". Native only: the Windows build uses the system's own interpreter.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/programs/harness.h"

namespace {

// 9009, the status of a program that cannot be found, in a POSIX status byte.
constexpr int kNotRecognizedStatus = 9009 & 0xFF;

class Cmd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (lxt::is_wine()) {
      GTEST_SKIP() << "cmd is the POSIX build's interpreter; Windows has its own";
    }
  }

  lxt::RunOptions options() const {
    lxt::RunOptions opts;
    opts.cwd = dir_.path();
    opts.search_dirs = {lxt::testbin_dir()};
    opts.timeout = std::chrono::milliseconds(60000);
    return opts;
  }

  lxt::RunResult line(const std::string& text) const { return line(text, options()); }
  lxt::RunResult line(const std::string& text, const lxt::RunOptions& opts) const {
    lxt::RunResult result = lxt::run({lxt::program("cmd"), "/C", text}, opts);
    EXPECT_FALSE(result.timed_out) << text;
    return result;
  }

  // Options under which lxrecord keeps its journal in the test directory.
  lxt::RunOptions recording(const std::string& stdin_mode = "") const {
    lxt::RunOptions opts = options();
    for (const lxt::EnvChange& change : lxt::journal_env(journal())) {
      opts.env.push_back(change);
    }
    if (!stdin_mode.empty()) {
      opts.set("LXT_STDIN", stdin_mode);
    }
    return opts;
  }
  std::string journal() const { return dir_.file("journal"); }
  std::vector<lxt::Record> records() const { return lxt::read_journal(journal()); }

  bool read_only(const std::string& name) const {
    return chmod(dir_.file(name).c_str(), 0444) == 0;
  }

  lxt::TempDir dir_;
};

// ---- pipelines --------------------------------------------------------------

TEST_F(Cmd, TwoCommandPipelineFeedsTheFileIntoTheProgram) {
  dir_.write("urls", "http://a/\r\nhttp://b/\n");
  const lxt::RunResult result = line("type urls | lxrecord from-pipe", recording("read"));
  EXPECT_EQ(result.status, 0);
  const std::vector<lxt::Record> recs = records();
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
  const std::vector<lxt::Record> recs = records();
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
  const std::vector<lxt::Record> recs = records();
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
  EXPECT_TRUE(records().empty());

  result = line("lxrecord > nodir\\out", recording());
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err, "");
  EXPECT_TRUE(records().empty());

  // The rest of a pipeline still runs, reading an ended input.
  result = line("type x < missing | /bin/sh -c \"cat; exit 5\"");
  EXPECT_EQ(result.status, 5);
  EXPECT_EQ(result.out, "");
}

// ---- built-ins ------------------------------------------------------------------

TEST_F(Cmd, TypeCopiesBytesExactly) {
  const std::string bytes = std::string("a\r\nb\0c\x1a\xff\n", 9);
  dir_.write("bin", bytes);
  lxt::RunResult result = line("TYPE bin");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, bytes);

  result = line("type missing");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err, "");
}

TEST_F(Cmd, DelForcedQuietRemovesMatchingFilesOnly) {
  dir_.write("gathering1", "1");
  dir_.write("gathering2", "2");
  ASSERT_TRUE(read_only("gathering2"));
  dir_.mkdir("gatheringdir");
  dir_.write("gatheringdir/inside", "i");
  dir_.write("keep", "k");
  const lxt::RunResult result = line("del /F /Q gathering*");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_FALSE(dir_.exists("gathering1"));
  EXPECT_FALSE(dir_.exists("gathering2"));
  EXPECT_TRUE(dir_.exists("gatheringdir/inside"));
  EXPECT_TRUE(dir_.exists("keep"));
}

TEST_F(Cmd, DelWithoutForceLeavesReadOnlyFiles) {
  dir_.write("w.cf", "w");
  dir_.write("r.cf", "r");
  ASSERT_TRUE(read_only("r.cf"));
  const lxt::RunResult result = line("del *.cf");
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("Access is denied."), std::string::npos);
  EXPECT_FALSE(dir_.exists("w.cf"));
  EXPECT_TRUE(dir_.exists("r.cf"));
}

TEST_F(Cmd, DelPatternsAndPaths) {
  dir_.mkdir("sub");
  for (const char* name : {"sub/g1.txt", "sub/g10.txt", "sub/a[1].txt", "sub/a1.txt", "g1.txt"}) {
    dir_.write(name, "x");
  }
  lxt::RunResult result = line("del /f /q sub\\g?.txt");
  EXPECT_EQ(result.status, 0);
  EXPECT_FALSE(dir_.exists("sub/g1.txt"));
  EXPECT_TRUE(dir_.exists("sub/g10.txt"));
  EXPECT_TRUE(dir_.exists("g1.txt"));

  // "[" is a plain character in these patterns.
  result = line("del sub\\a[1]*");
  EXPECT_EQ(result.status, 0);
  EXPECT_FALSE(dir_.exists("sub/a[1].txt"));
  EXPECT_TRUE(dir_.exists("sub/a1.txt"));

  result = line("del " + dir_.path() + "/sub/g10.txt " + dir_.path() + "\\g1.txt");
  EXPECT_EQ(result.status, 0);
  EXPECT_FALSE(dir_.exists("sub/g10.txt"));
  EXPECT_FALSE(dir_.exists("g1.txt"));
}

TEST_F(Cmd, DelWithoutMatch) {
  lxt::RunResult result = line("del nomatch*");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "Could Not Find nomatch*\n");

  // The system's own form: a missing file is not remarked.
  result = line("del /F " + dir_.path() + "\\localmap.cf 2> \\nul");
  EXPECT_EQ(result.err, "");

  dir_.mkdir("adir");
  result = line("del /F /Q adir");
  EXPECT_EQ(result.status, 1);
  EXPECT_TRUE(dir_.exists("adir"));

  result = line("del /X f");
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err, "");
}

TEST_F(Cmd, RmdirRemovesTheWholeTree) {
  dir_.mkdir("cache-liburl");
  dir_.mkdir("cache-liburl/a");
  dir_.mkdir("cache-liburl/a/b");
  dir_.write("cache-liburl/a/b/page", "p");
  dir_.write("cache-liburl/top", "t");
  ASSERT_TRUE(read_only("cache-liburl/top"));
  dir_.write("beside", "stays");
  lxt::RunResult result = line("rmdir /S /Q " + dir_.path() + "\\cache-liburl");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_FALSE(dir_.exists("cache-liburl"));
  EXPECT_TRUE(dir_.exists("beside"));

  result = line("rmdir /S /Q cache-liburl");
  EXPECT_NE(result.status, 0);
  EXPECT_NE(result.err, "");
}

TEST_F(Cmd, RmdirWithoutSubtreeOptionRemovesOnlyEmptyDirectories) {
  dir_.mkdir("full");
  dir_.write("full/f", "f");
  dir_.mkdir("empty");
  lxt::RunResult result = line("rmdir full");
  EXPECT_NE(result.status, 0);
  EXPECT_TRUE(dir_.exists("full/f"));
  result = line("RD empty");
  EXPECT_EQ(result.status, 0);
  EXPECT_FALSE(dir_.exists("empty"));
  result = line("rmdir /S /Q beside");
  EXPECT_NE(result.status, 0);
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
  for (const char* text : {"lxrecord |", "| lxrecord", "lxrecord || lxrecord", "lxrecord | | lxrecord",
                           "lxrecord >", "lxrecord > | lxrecord", "lxrecord <", "lxrecord 2>",
                           "lxrecord 2>&", "lxrecord 2>&2", "lxrecord > \"open", "lxrecord & lxrecord"}) {
    const lxt::RunResult result = line(text, recording());
    EXPECT_EQ(result.status, 1) << text;
    EXPECT_NE(result.err, "") << text;
  }
  EXPECT_TRUE(records().empty());
  EXPECT_EQ(line(std::string(9000, 'a')).status, 1);
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

}  // namespace
