// skim, run as a black box: the abstract's rules on standard input, named
// files and their order, the line limit, long lines, and line ends per target.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include <sys/resource.h>

#include "tests/programs/program_test.h"

namespace {

using lxt::RunResult;

const std::string kMarker = "...\n";

class Skim : public lxt::ProgramTest {
 protected:
  // Runs skim in the temporary directory. Standard output is binary on both
  // targets; standard error is text (CR LF under Wine) and is folded.
  RunResult skim(const std::vector<std::string>& args, const std::string& input = "") const {
    std::vector<std::string> argv{lxt::program("skim")};
    argv.insert(argv.end(), args.begin(), args.end());
    lxt::RunOptions options;
    options.cwd = dir_.path();
    options.stdin_data = input;
    RunResult result = lxt::run(argv, options);
    result.err = lxt::lf(result.err);
    return result;
  }

  // The abstract of input given on standard input; a failed run fails the test.
  std::string abstract(const std::string& input) const {
    const RunResult result = skim({}, input);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    return result.out;
  }

  // The abstract of input read from a named file.
  std::string file_abstract(const std::string& input) const {
    dir_.write("doc.ms", input);
    const RunResult result = skim({"doc.ms"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    return result.out;
  }

  static std::string repeat(const std::string& text, int times) {
    std::string all;
    for (int i = 0; i < times; ++i) all += text;
    return all;
  }
};

// ---- the abstract's rules --------------------------------------------------

TEST_F(Skim, KeepsTheFirstSentenceOfEachParagraph) {
  EXPECT_EQ(abstract(".PP\n"
                     "The gatherer starts.  Then it reads the list.\n"
                     "A third line of the same paragraph.\n"
                     ".PP\n"
                     "Word\n"),
            ".PP\nThe gatherer starts.  Then it reads the list.\n" + kMarker + ".PP\nWord\n");
  // A full stop right before the newline ends the sentence without blanks after it.
  EXPECT_EQ(abstract(".LP\nIt ends here.\ndropped\n"), ".LP\nIt ends here.\n" + kMarker);
  // One blank after the full stop is no sentence end; the later line's is.
  EXPECT_EQ(abstract(".PP\nversion 2. of it\nand more.  Yes\nno\n"),
            ".PP\nversion 2. of it\nand more.  Yes\n" + kMarker);
  EXPECT_EQ(abstract(""), "");
}

TEST_F(Skim, ScansUpToFiveBytesBeforeTheLineEnd) {
  // "abcd.  x\n": the full stop stands at the last position scanned.
  EXPECT_EQ(abstract("abcd.  x\nnext\n"), "abcd.  x\n" + kMarker);
  // "abc.  \n": its full stop is one position beyond the scan, and the byte
  // before the newline is a blank.
  EXPECT_EQ(abstract("abc.  \nnext\n"), "abc.  \nnext\n");
  // Lines of four bytes or fewer are not scanned; only the last-byte test applies.
  EXPECT_EQ(abstract(".  \nx.\nnext\n"), ".  \nx.\n" + kMarker);
}

TEST_F(Skim, CutsAParagraphWithoutSentenceEndWhenTheBudgetIsSpent) {
  // A line of n letters and a newline scans n-3 positions: 103 letters stay
  // within the budget of 100 (a line of four bytes scans nothing), 104 exceed
  // it, and so do two more positions later.
  EXPECT_EQ(abstract(std::string(103, 'a') + "\nabc\nabcde\ndropped\n"),
            std::string(103, 'a') + "\nabc\nabcde\n" + kMarker);
  EXPECT_EQ(abstract(std::string(104, 'a') + "\ndropped\n.PP\nkept\n"),
            std::string(104, 'a') + "\n" + kMarker + ".PP\nkept\n");
  // The budget runs across lines, and across paragraphs that ended without a
  // marker: 60 + 41 positions.
  const std::string first(63, 'b'), second(44, 'c');
  EXPECT_EQ(abstract(first + "\n.PP\n" + second + "\ndropped\n"),
            first + "\n.PP\n" + second + "\n" + kMarker);
  // A marker resets it: after the cut, 100 more positions are allowed.
  EXPECT_EQ(abstract("Done.\n.PP\n" + std::string(103, 'd') + "\nabc\n"),
            "Done.\n" + kMarker + ".PP\n" + std::string(103, 'd') + "\nabc\n");
}

TEST_F(Skim, RequestsAreComparedOverThreeBytes) {
  for (const char* request : {".LP", ".PP", ".S#", ".Ch", ".SH", ".NH", ".lp", ".pp", ".sh"}) {
    const std::string line = std::string(request) + " more text\n";
    EXPECT_EQ(abstract("Cut.\n" + line + "after\n"), "Cut.\n" + kMarker + line + "after\n")
        << request;
  }
  // Other requests and other letter cases are ordinary lines: dropped while skipping.
  for (const char* line : {".sH x\n", ".Sh\n", ".IP\n", ".B bold\n", " .PP\n", ".P\n"}) {
    EXPECT_EQ(abstract(std::string("Cut.\n") + line + "after\n"), "Cut.\n" + kMarker) << line;
  }
  // A request that is not kept is a summary line of its own while not skipping.
  EXPECT_EQ(abstract(".sH title\n"), ".sH title\n");
}

TEST_F(Skim, OnlyAnEmptyLineSeparatesParagraphs) {
  EXPECT_EQ(abstract("Cut.\ndropped\n\nnew paragraph\n"),
            "Cut.\n" + kMarker + "\nnew paragraph\n");
  // A line holding a blank is an ordinary line, dropped with the rest.
  EXPECT_EQ(abstract("Cut.\n \nstill dropped\n"), "Cut.\n" + kMarker);
}

TEST_F(Skim, FindsTheIdeographicFullStopByteWise) {
  // Shift_JIS: "文書です。" then more text; the ideographic full stop is 0x81 0x42.
  const std::string sentence = "\x95\xb6\x8f\x91\x82\xc5\x82\xb7\x81\x42\x8e\x9f";
  EXPECT_EQ(file_abstract(".PP\n" + sentence + "\n\x8e\x9f\x82\xcc\x8d\x73\n"),
            ".PP\n" + sentence + "\n" + kMarker);
  // The byte-wise scan also finds 0x81 0x42 where 0x81 is the second byte of
  // a double-byte character (0x83 0x81) and the letter B follows.
  const std::string false_stop = "\x83\x81" "B-tree index\n";
  EXPECT_EQ(file_abstract(false_stop + "dropped\n"), false_stop + kMarker);
  // An ideographic full stop right before the newline lies beyond the scan and
  // is no full stop for the last-byte test.
  const std::string at_end = "\x95\xb6\x8f\x91\x81\x42\n";
  EXPECT_EQ(file_abstract(at_end + "next\n"), at_end + "next\n");
}

TEST_F(Skim, StopsAfterFiveHundredThirteenLines) {
  EXPECT_EQ(abstract(repeat(".PP\n", 600)), repeat(".PP\n", 513));
  // The line that passes the limit still gets its marker.
  EXPECT_EQ(abstract(repeat(".LP\n", 512) + "End.\nnot read\n.LP\n"),
            repeat(".LP\n", 512) + "End.\n" + kMarker);
  // Markers and dropped lines do not count.
  const std::string paragraph = ".PP\nOne.  Two.\ndropped\n";
  const std::string kept = ".PP\nOne.  Two.\n" + kMarker;
  EXPECT_EQ(abstract(repeat(paragraph, 300)), repeat(kept, 256) + ".PP\n");
}

TEST_F(Skim, ReadsLongLinesInPiecesOf2047Bytes) {
  // 3000 bytes without a newline: a summary line of 2047 bytes (cut by the
  // budget), then a piece of 953 bytes that begins with a kept request.
  const std::string first(2047, 'a');
  const std::string second = ".PP" + std::string(950, 'b');
  EXPECT_EQ(abstract(first + second), first + kMarker + second);
  // A line of exactly 2047 bytes leaves its newline as a piece of its own,
  // which is an empty line and so a kept one: the skipping ends there.
  EXPECT_EQ(abstract(first + "\nwritten\n"), first + kMarker + "\nwritten\n");
}

TEST_F(Skim, CutsPiecesAlikeWhileSkipping) {
  // Dropped lines are passed over in bulk; a long line is still cut after
  // 2047 bytes, and a piece that begins a request there is kept.
  EXPECT_EQ(abstract("Cut.\n" + std::string(2047, 'z') + ".PP rest\nnext\n"),
            "Cut.\n" + kMarker + ".PP rest\nnext\n");
  EXPECT_EQ(abstract("Cut.\n" + std::string(2046, 'z') + ".PP rest\nnext\n"), "Cut.\n" + kMarker);
  // A dropped line of exactly 2047 bytes leaves its newline as an empty line,
  // wherever the line starts.
  const std::string padding = std::string(100, 'p') + "\n" + std::string(100, 'q') + "\n";
  for (const std::string& before : {std::string(), std::string("short\n")}) {
    EXPECT_EQ(abstract("Cut.\n" + before + std::string(2047, 'z') + "\nwritten.\n" + padding),
              "Cut.\n" + kMarker + "\nwritten.\n" + kMarker)
        << before;
  }
  // Inputs are read in blocks of 64 KiB: a kept line across the end of the
  // first block, and the last piece of an input without a newline.
  std::string document = "Cut.\n";
  while (document.size() + 40 < 65534) document += std::string(39, 'x') + "\n";
  document += std::string(65534 - document.size() - 1, 'y') + "\n";
  ASSERT_EQ(document.size(), 65534u);
  EXPECT_EQ(abstract(document + ".PP\nafter\n" + std::string(70000, 'w') + "\n.LP"),
            "Cut.\n" + kMarker + ".PP\nafter\n" + std::string(2047, 'w') + kMarker + ".LP");
}

TEST_F(Skim, ALineEndsAtItsFirstZeroByte) {
  // The line is "a.b": its full stop stands before its last byte.
  const std::string line("a.b\0tail\n", 9);
  EXPECT_EQ(abstract(line + "next\n"), "a.b" + kMarker);
}

// ---- inputs ------------------------------------------------------------------

TEST_F(Skim, ReadsNamedInputsInOrderAndDashAsStandardInput) {
  dir_.write("one.ms", ".PP\nfrom the file\n");
  const RunResult result = skim({"one.ms", "-"}, ".LP\nfrom standard input\n");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, ".PP\nfrom the file\n.LP\nfrom standard input\n");
  // Without arguments standard input is read; with arguments only when named.
  EXPECT_EQ(skim({"one.ms"}, "not read\n").out, ".PP\nfrom the file\n");
}

TEST_F(Skim, TheStateRunsAcrossInputs) {
  // The last line of the first input has no newline: it is handled once, as a
  // line of its own, and the second input's first line is the next line.
  dir_.write("a.ms", ".PP\nlast line");
  dir_.write("b.ms", "first line\n");
  EXPECT_EQ(skim({"a.ms", "b.ms"}).out, ".PP\nlast linefirst line\n");
  // The skipping state carries over to the next input.
  dir_.write("c.ms", ".PP\nIt ends.\n");
  dir_.write("d.ms", "dropped\n.LP\nkept\n");
  EXPECT_EQ(skim({"c.ms", "d.ms"}).out, ".PP\nIt ends.\n" + kMarker + ".LP\nkept\n");
  // So do the character budget and the line count.
  dir_.write("e.ms", repeat(".PP\n", 500));
  dir_.write("f.ms", repeat(".LP\n", 20));
  EXPECT_EQ(skim({"e.ms", "f.ms"}).out, repeat(".PP\n", 500) + repeat(".LP\n", 13));
}

TEST_F(Skim, AnInputThatCannotBeOpenedEndsTheRun) {
  dir_.write("one.ms", ".PP\nread first\n");
  RunResult result = skim({"one.ms", "missing.ms", "one.ms"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, ".PP\nread first\n");
  EXPECT_EQ(result.err, "skim: fopen: No such file or directory\n");
  // Before standard input is read at all.
  result = skim({"missing.ms", "-"}, ".PP\nnot read\n");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "skim: fopen: No such file or directory\n");
}

TEST_F(Skim, NamedFilesTakeWindowsSeparatorsAndADirectoryIsNoInput) {
  dir_.mkdir("sub");
  dir_.write("sub/f.ms", ".PP\nin sub\n");
  EXPECT_EQ(skim({"sub\\f.ms"}).out, ".PP\nin sub\n");
  const RunResult result = skim({"sub"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "skim: fopen: Permission denied\n");
}

// A writer that keeps its pipe open: the lines that have arrived are handled
// at once, and the line limit ends the run without waiting for more. Were
// skim to wait for a whole block or the end, it would run into the time limit.
TEST_F(Skim, HandlesAPipeAsItsLinesArriveAndStopsAtTheLimit) {
  lxt::RunOptions options;
  options.cwd = dir_.path();
  options.stdin_data = repeat(".PP\n", 600);
  options.keep_stdin_open = true;
  options.timeout = std::chrono::milliseconds(60000);
  const RunResult result = lxt::run({lxt::program("skim")}, options);
  EXPECT_FALSE(result.timed_out);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, repeat(".PP\n", 513));
}

TEST_F(Skim, ReadsMoreInputsThanStreamsCanBeOpenAtOnce) {
  // Each finished input is closed. The Windows runtime allows 512 open streams;
  // natively the test lowers the descriptor limit that skim inherits.
  constexpr int kInputs = 600;
  std::vector<std::string> args;
  for (int i = 0; i < kInputs; ++i) {
    const std::string name = "f" + std::to_string(i);
    dir_.write(name, "");
    args.push_back(name);
  }
  dir_.write("last", ".PP\nall read\n");
  args.push_back("last");
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  if (!lxt::is_wine()) {
    rlimit lowered = saved;
    lowered.rlim_cur = std::min<rlim_t>(saved.rlim_cur, 256);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
  }
  const RunResult result = skim(args);
  ::setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, ".PP\nall read\n");
}

// ---- line ends ---------------------------------------------------------------

// Standard input is binary on both targets: a carriage return stays, so a
// full stop before CR LF is not the byte before the last, and CR LF alone is
// not an empty line.
TEST_F(Skim, StandardInputKeepsCarriageReturns) {
  EXPECT_EQ(abstract(".PP\r\nNo end.\r\nsecond\r\n\r\nthird\r\n"),
            ".PP\r\nNo end.\r\nsecond\r\n\r\nthird\r\n");
  EXPECT_EQ(abstract("Two.  Sentences\r\n\r\ndropped\r\n"), "Two.  Sentences\r\n" + kMarker);
}

// Named files are read in text mode, alike on both targets: CR LF is read as
// LF, even where a block ends between the two; a lone CR and a Ctrl-Z stay.
TEST_F(Skim, NamedFilesAreReadInTextMode) {
  EXPECT_EQ(file_abstract(".PP\r\nIt ends.\r\ndropped\r\n\r\nnext\r\n"),
            ".PP\nIt ends.\n" + kMarker + "\nnext\n");
  EXPECT_EQ(file_abstract("a\rb\x1a\r\n"), "a\rb\x1a\n");
  std::string document = "Cut.\r\n";
  while (document.size() + 40 < 65535) document += std::string(38, 'x') + "\r\n";
  document += std::string(65535 - document.size(), 'y');
  ASSERT_EQ(document.size(), 65535u);
  EXPECT_EQ(file_abstract(document + "\r\n\r\nkept\r\n"), "Cut.\n" + kMarker + "\nkept\n");
}

}  // namespace
