// The built-ins of the POSIX command interpreter `cmd` (type, del, rmdir),
// run as the programs run them: "cmd /C LINE".
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

using lxt::Cmd;

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

}  // namespace
