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

#include "tests/programs/program_test.h"

namespace {

// 9009, the status of a program that cannot be found, in a POSIX status byte.
constexpr int kNotRecognizedStatus = 9009 & 0xFF;

class Cmd : public lxt::ProgramTest {
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
  // "rmdir /S /Q tree" in a mount namespace of its own where other/ is bound
  // on tree/sub; status 97 when the mount cannot be made.
  lxt::RunResult line_in_mount_namespace(const lxt::RunOptions& opts) const {
    return lxt::run({"/usr/bin/unshare", "-m", "/bin/sh", "-c",
                     "mount --make-rprivate / 2>/dev/null; mount --bind \"$1\" \"$2\" || exit 97; "
                     "exec \"$3\" /C \"rmdir /S /Q tree\"",
                     "sh", dir_.file("other"), dir_.file("tree/sub"), lxt::program("cmd")},
                    opts);
  }
  lxt::RunResult line(const std::string& text, const lxt::RunOptions& opts) const {
    lxt::RunResult result = lxt::run({lxt::program("cmd"), "/C", text}, opts);
    EXPECT_FALSE(result.timed_out) << text;
    return result;
  }

  // Options under which lxrecord keeps its journal in the test directory.
  lxt::RunOptions recording(const std::string& stdin_mode = "") const {
    lxt::RunOptions opts = options();
    opts.env = lxt::journal_env(journal_path());
    if (!stdin_mode.empty()) opts.set("LXT_STDIN", stdin_mode);
    return opts;
  }

  bool read_only(const std::string& name) const {
    return chmod(dir_.file(name).c_str(), 0444) == 0;
  }

};

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

  // As on Windows: letters match in either case, and "*." takes the names without an extension.
  dir_.write("noext", "x");
  dir_.write("a.txt", "x");
  EXPECT_EQ(line("del *.").status, 0);
  EXPECT_FALSE(dir_.exists("noext"));
  EXPECT_TRUE(dir_.exists("a.txt"));
  EXPECT_EQ(line("del *.TXT").status, 0);
  EXPECT_FALSE(dir_.exists("a.txt"));
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

TEST_F(Cmd, RmdirRemovesALinkNeverWhatItPointsTo) {
  dir_.mkdir("target");
  dir_.write("target/kept", "k");
  ASSERT_EQ(symlink("target", dir_.file("lnk").c_str()), 0);
  // Windows reads "lnk\." as "lnk": the link, which is no directory.
  for (const char* name : {"lnk", "lnk\\.", "lnk\\.\\", "lnk/./", "target\\..\\lnk\\."}) {
    const lxt::RunResult result = line(std::string("rmdir /S /Q ") + name);
    EXPECT_EQ(result.status, 1) << name;
    EXPECT_EQ(result.err, "The directory name is invalid.\n") << name;
    EXPECT_TRUE(dir_.exists("target/kept")) << name;
  }
  // A link inside the tree goes, what it points to stays.
  dir_.mkdir("tree");
  ASSERT_EQ(symlink("../target", dir_.file("tree/inner").c_str()), 0);
  EXPECT_EQ(line("rmdir /S /Q tree\\.").status, 0);
  EXPECT_FALSE(dir_.exists("tree"));
  EXPECT_TRUE(dir_.exists("target/kept"));
}

// A ".." is left to the kernel, never taken back by the text: "lnk\..\victim"
// is the victim beside where the link leads, as every other program reaches
// it, and a path that ends in ".." (a directory above the one named, which
// one depending on links) is refused.
TEST_F(Cmd, RmdirLeavesDotDotToTheKernel) {
  if (lxt::is_wine()) GTEST_SKIP() << "Windows takes \"..\" back by the text";
  for (const char* d : {"victim", "other/deep", "other/victim", "tree/sub"}) dir_.mkdir(d);
  for (const char* f : {"victim/keep", "other/victim/keep", "tree/keep"}) dir_.write(f, "k");
  ASSERT_EQ(symlink("other/deep", dir_.file("lnk").c_str()), 0);
  for (const char* name : {"tree\\sub\\..", "tree/sub/..\\"}) {
    const lxt::RunResult result = line(std::string("rmdir /S /Q ") + name);
    EXPECT_EQ(result.status, 1) << name;
    EXPECT_NE(result.err.find(" is not removed"), std::string::npos) << result.err;
    EXPECT_TRUE(dir_.exists("tree/keep")) << name;
  }
  EXPECT_EQ(line("rmdir /S /Q lnk\\..\\victim").status, 0);
  EXPECT_FALSE(dir_.exists("other/victim"));
  EXPECT_TRUE(dir_.exists("victim/keep"));
}

// A file system mounted inside the tree (here a bind mount of the same one,
// which has the same device) is never walked into: its mount point stays,
// with an error line and status 1, and what it leads to stays whole.
TEST_F(Cmd, RmdirNeverWalksIntoAMountInsideTheTree) {
  if (::geteuid() != 0) GTEST_SKIP() << "a mount namespace needs root";
  dir_.mkdir("other");
  dir_.write("other/keep", "k");
  dir_.mkdir("tree");
  dir_.mkdir("tree/sub");
  dir_.write("tree/file", "f");
  lxt::RunOptions opts = options();
  const lxt::RunResult result = line_in_mount_namespace(opts);
  if (result.status == 97) GTEST_SKIP() << "no bind mount here: " << result.err;
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("sub - Another file system is mounted here"), std::string::npos) << result.err;
  EXPECT_EQ(dir_.read("other/keep"), "k");
  EXPECT_FALSE(dir_.exists("tree/file"));
  EXPECT_TRUE(dir_.exists("tree/sub"));
}

// Under a process limit no thread can be had: a lone built-in still runs,
// and one that needs a thread fails with a message and a status, never an
// abort.
TEST_F(Cmd, WithoutThreadsACommandFailsWithAStatusNeverACrash) {
  if (::geteuid() != 0) GTEST_SKIP() << "the limit is only felt by another user than root";
  ASSERT_EQ(::chmod(dir_.path().c_str(), 0755), 0);
  dir_.write("a.txt", "A");
  dir_.write("b.txt", "B");
  ::chmod(dir_.file("a.txt").c_str(), 0644);
  ::chmod(dir_.file("b.txt").c_str(), 0644);
  lxt::RunOptions opts = options();
  opts.set("ASAN_OPTIONS", "detect_leaks=0");  // the leak check itself needs a thread
  const auto limited = [&](const std::string& text) {
    return lxt::run({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "/usr/bin/prlimit",
                     "--nproc=1", lxt::program("cmd"), "/C", text},
                    opts);
  };
  lxt::RunResult result = limited("type a.txt");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "A");
  result = limited("type a.txt | type b.txt");
  EXPECT_EQ(result.status, 1) << result.err;
  EXPECT_EQ(result.err.find("terminate"), std::string::npos) << result.err;
  EXPECT_NE(result.err, "");
}

TEST_F(Cmd, RmdirRemovesTreesDeeperThanThePathLimit) {
  // 60 levels of 100-byte names: a path far beyond PATH_MAX, built level by
  // level from open directories.
  const std::string part(100, 'd');
  int fd = open(dir_.path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(mkdirat(fd, "deep", 0755), 0);
  std::string name = "deep";
  for (int level = 0; level < 60; ++level) {
    const int sub = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
    close(fd);
    ASSERT_GE(sub, 0);
    fd = sub;
    close(openat(fd, "file", O_WRONLY | O_CREAT, 0644));
    ASSERT_EQ(mkdirat(fd, part.c_str(), 0755), 0);
    name = part;
  }
  close(fd);
  const lxt::RunResult result = line("rmdir /S /Q deep");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_FALSE(dir_.exists("deep"));
}

TEST_F(Cmd, RmdirStaysInsideATreeThatChangesDuringTheWalk) {
  // Directories of the tree keep changing into links to "outside" and back
  // while the walk runs: nothing outside may go, whatever the timing.
  dir_.mkdir("outside");
  dir_.mkdir("moved");
  for (int i = 0; i < 20; ++i) {
    dir_.write("outside/f" + std::to_string(i), "o");
  }
  constexpr int kSubdirs = 20;
  for (int round = 0; round < 10; ++round) {
    dir_.mkdir("tree");
    for (int i = 0; i < kSubdirs; ++i) {
      const std::string sub = "tree/s" + std::to_string(i);
      dir_.mkdir(sub);
      for (int j = 0; j < 20; ++j) {
        dir_.write(sub + "/f" + std::to_string(j), "t");
      }
    }
    std::atomic<bool> done{false};
    std::thread swapper([&] {
      for (int i = 0; !done; i = (i + 1) % kSubdirs) {
        const std::string sub = dir_.file("tree/s" + std::to_string(i));
        const std::string away = dir_.file("moved/s" + std::to_string(i));
        if (rename(sub.c_str(), away.c_str()) == 0) {
          symlink(dir_.file("outside").c_str(), sub.c_str());
          unlink(sub.c_str());
          rename(away.c_str(), sub.c_str());
        }
      }
    });
    line("rmdir /S /Q tree");
    done = true;
    swapper.join();
    for (int i = 0; i < 20; ++i) {
      ASSERT_TRUE(dir_.exists("outside/f" + std::to_string(i))) << "round " << round;
    }
    line("rmdir /S /Q tree 2> nul");
  }
}

TEST_F(Cmd, OutputThatCannotBeWrittenFails) {
  dir_.write("f", std::string(100000, 'f'));
  // A device is no file to write to by name; a full disk is made for the line.
  lxt::RunResult result = line("type f > /dev/full");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "Access is denied.\n");
  if (geteuid() == 0 && access("/usr/bin/unshare", X_OK) == 0) {
    dir_.mkdir("full");
    const std::string mount = "mount -t tmpfs -o size=16k tmpfs full && exec \"$0\" /C \"$1\"";
    result = lxt::run({"/usr/bin/unshare", "-m", "/bin/sh", "-c", mount, lxt::program("cmd"), "type f > full\\out"}, options());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "There is not enough space on the disk.\n");
  }
  // A closed standard output stays closed, for built-ins and programs.
  const std::string closed = "exec 1>&-; exec \"$0\" /C \"$1\"";
  result = lxt::run({"/bin/sh", "-c", closed, lxt::program("cmd"), "type f"}, options());
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "The handle is invalid.\n");
  result = lxt::run({"/bin/sh", "-c", closed, lxt::program("cmd"), "/bin/sh -c \"echo x || exit 9\""}, options());
  EXPECT_EQ(result.status, 9);
}

TEST_F(Cmd, ProgramsStartWithTheDefaultSigpipe) {
  // With SIGPIPE ignored "yes" would see a failed write and complain;
  // with the default it ends silently when "head" stops reading.
  const lxt::RunResult result = line("/usr/bin/yes | /usr/bin/head -c 2");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "y\n");
  EXPECT_EQ(result.err, "");
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
