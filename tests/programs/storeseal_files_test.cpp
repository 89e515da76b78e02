// storeseal's files as a black box: where a database goes that cannot be
// removed, what is on the disk when, the log without standard streams and
// lines that cannot be composed.
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

// Once the production database holds the gathered templates, a gathered
// database left in place would be joined again by the next run, and bring
// back templates that the cycle's expiry removed.
TEST_F(Seal, AGatheredDatabaseThatCannotBeRemovedGoesWhereNoRunJoinsIt) {
  if (lxt::is_wine()) GTEST_SKIP() << "the failing removal is dealt by the POSIX port's test mode";
  struct Row {
    bool aside_free;  // no directory in the way of the name no run joins
    int status;
    std::string err;
  };
  const Row rows[] = {
      {true, 0, "^storeseal: " + kStamp + ": Cannot remove WORKING.gdbm \\(errno=13\\); it is kept as "
                "WORKING.gdbm.joined, which no run joins.\n$"},
      {false, 1, "^storeseal: " + kStamp + ": ERROR: Cannot remove WORKING.gdbm \\(errno=13\\), nor rename it to "
                 "WORKING.gdbm.joined \\(errno=[0-9]+\\); the next run would join it again.\n$"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.aside_free ? "aside free" : "aside blocked");
    // The removals before it are few: walk to the one of WORKING.gdbm.
    bool met = false;
    for (int n = 1; n <= 40 && !met; ++n) {
      gathered(false);
      std::filesystem::remove_all(dir_.file("data/WORKING.gdbm.joined"));
      if (!row.aside_free) dir_.mkdir("data/WORKING.gdbm.joined/sub");
      lxt::RunOptions options;
      options.set("LORVEX_TEST_FAULT_INJECTION", "unlink:" + std::to_string(n) + ":EACCES");
      const RunResult result = storeseal({"gid", data()}, options);
      met = result.err.find("Cannot remove WORKING.gdbm (") != std::string::npos;
      if (!met) continue;
      EXPECT_EQ(result.status, row.status);
      EXPECT_TRUE(matches(result.err, row.err)) << result.err;
      EXPECT_EQ(result.out.ends_with("storeseal: Databases ready for export.\n"), row.status == 0);
      EXPECT_EQ(dir_.read("data/PRODUCTION.gdbm"), "made by storejoin\n");
      EXPECT_EQ(dir_.exists("data/WORKING.gdbm"), !row.aside_free);
      if (row.aside_free) {
        EXPECT_EQ(dir_.read("data/WORKING.gdbm.joined"), "working\n");
      }
    }
    EXPECT_TRUE(met);
  }
}

// A power cut must never find a name leading to data that is not on the
// disk while the last other copy of it is gone: each file a child made is
// flushed after its last write and before that copy goes, and the directory
// after its names change. Traced natively, calls of every process in order.
TEST_F(Seal, EachFileIsOnTheDiskBeforeItsLastOtherCopyGoes) {
  if (lxt::is_wine()) GTEST_SKIP() << "the calls are traced natively";
  if (std::system("strace -qq -o /dev/null /bin/true 2>/dev/null") != 0) GTEST_SKIP() << "strace cannot trace here";
  gathered(false);
  dir_.write("data/INFO_J.txt", "old rendering\n");
  const std::string trace = dir_.file("trace");
  lxt::RunOptions options;
  options.set("LXG_STARTMODE", "LX").set("LXT_PERL_PRINT", "new info").set("LXT_RIDORIZIDOR_PRINT", "rendered");
  // The leak checker cannot work under a tracer.
  options.set("LXT_GZIP_PRINT", "compressed").set("ASAN_OPTIONS", "detect_leaks=0");
  const RunResult result = storeseal({"gid", data()}, options,
                                     {"/usr/bin/strace", "-f", "-qq", "-y", "-o", trace, "-e",
                                      "trace=write,fsync,fdatasync,rename,renameat,renameat2,unlink,unlinkat"});
  ASSERT_EQ(result.status, 0) << result.err;
  std::vector<std::string> calls;
  std::istringstream lines(lxt::read_file(trace));
  for (std::string line; std::getline(lines, line);) calls.push_back(line);
  // The position of the last (or first) call that matches, -1 for none.
  const auto find = [&](const std::string& pattern, bool last) {
    const std::regex wanted(pattern);
    int found = -1;
    for (int i = 0; i < static_cast<int>(calls.size()); ++i) {
      if (!std::regex_search(calls[i], wanted)) continue;
      found = i;
      if (!last) break;
    }
    return found;
  };
  struct Row {
    std::string made;  // the file as the child wrote it
    std::string gone;  // the call after which the last other copy is gone
  };
  const Row rows[] = {
      {"INDEX.gdbm", "unlink(at)?\\(.*\"INDEX\\.gdbm\\.old\""},
      {"MD5.gdbm", "unlink(at)?\\(.*\"MD5\\.gdbm\\.old\""},
      // The new database replaces the old one, then the gathered one goes.
      {"storeseal.gdbm", "rename(at2?)?\\(.*\"storeseal\\.gdbm\".*\"PRODUCTION\\.gdbm\""},
      {"storeseal.gdbm", "unlink(at)?\\(.*\"WORKING\\.gdbm\""},
      {"storeseal.soif", "rename(at2?)?\\(.*\"storeseal\\.soif\".*\"INFO\\.soif\""},
      {"storeseal.txt", "rename(at2?)?\\(.*\"storeseal\\.txt\".*\"INFO_J\\.txt\""},
      {"packdump.out.gz", "rename(at2?)?\\(.*\"packdump\\.out\\.gz\".*\"All-Templates\\.gz\""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.made + " before " + row.gone);
    const std::string name = std::regex_replace(row.made, std::regex("\\."), "\\.");
    const int written = find("^[0-9]+ +write\\([0-9]+<[^>]*/data/" + name + ">", true);
    const int gone = find(row.gone, false);
    ASSERT_GE(written, 0);
    ASSERT_GT(gone, written);
    bool flushed = false;
    for (int i = written + 1; i < gone && !flushed; ++i) {
      flushed = std::regex_search(calls[i], std::regex("f(data)?sync\\([0-9]+<[^>]*/data/" + name + ">"));
    }
    EXPECT_TRUE(flushed);
  }
  // The directory, after the gathered database's name went.
  EXPECT_GT(find("fsync\\([0-9]+<[^>]*/data>\\)", true), find("unlink(at)?\\(.*\"WORKING\\.gdbm\"", false));
}

// Started with standard output and error closed, the program must not hand
// their numbers to its lock file and its log: its own lines and its
// children's would land in them.
TEST_F(Seal, WithoutStandardStreamsTheLogGetsItsOwnLinesOnly) {
  if (lxt::is_wine()) GTEST_SKIP() << "the streams are closed by a POSIX shell";
  gathered(false);
  lxt::RunOptions options;
  options.set("LXG_STARTMODE", "LX").set("KESTREL_GATHERER_LOGFILE", dir_.host("seal.log"));
  options.set("LXT_KEYBUILD_EXIT", "5");
  const RunResult result =
      storeseal({"gid", data()}, options, {"/bin/sh", "-c", "exec \"$0\" \"$@\" >&- 2>&-"});
  EXPECT_EQ(result.status, 1);
  // Each line once: the error's twin, never the error line itself as well.
  const std::string log = lxt::lf(dir_.read("seal.log"));
  const std::string line = "storeseal: " + kStamp + ": ";
  EXPECT_TRUE(std::regex_match(log, std::regex(line + "Using given directory: [^\n]*\n(" + line + "[A-Z][^\n]*\\.\\.\\.\n){3}" +
                                               line + "ERROR: Building the index failed [^\n]*\n")))
      << log;
  EXPECT_FALSE(dir_.exists("data/storeseal.lock"));
  EXPECT_EQ(dir_.read("data/PRODUCTION.gdbm"), "production\n");
}

TEST_F(Seal, LinesThatCannotBeComposedAreRefusedBeforeAnythingIsTouched) {
  const std::string long_id(760, 'g');
  const std::string prefix = "^storeseal: " + kStamp + ": ERROR: ";
  const std::string unchanged = "; nothing was changed.\n$";
  struct Case {
    std::string id;
    std::string err;
    std::string closed = "";  // an entry that the other user it then runs as may not use (mode 0600, root's)
  };
  const Case cases[] = {
      {long_id, prefix + "The gatherer ID and the Perl and gzip paths make a command line longer than 779 bytes.\n$"},
      {"g\"id", prefix + "The gatherer ID holds a double quote; no command line can carry it.\n$"},
      {"a%FOO%b", prefix + "The gatherer ID holds percent signs that the command interpreter would expand; no command "
                           "line can carry it.\n$"},
      {"gid", prefix + "Cannot change into " + data() + " \\(errno=13\\)" + unchanged, "data"},
      {"gid", prefix + "REFRESH.gdbm cannot be read \\(errno=13\\)" + unchanged, "data/REFRESH.gdbm"},
  };
  // Open to the other user, and to no one else: root refuses a tree every
  // user may write. The other user runs over a data directory of its own
  // (where it takes the run's lock), unless the row closes that directory.
  for (const std::string& open : {dir_.path(), install_.tools_dir(), dir_.file("data")}) {
    std::filesystem::permissions(open, std::filesystem::perms(0755));
  }
  const auto data_owner = [&](uid_t uid) {
    if (::geteuid() == 0) {
      ASSERT_EQ(::chown(dir_.file("data").c_str(), uid, uid), 0);
    }
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id.substr(0, 10) + " " + c.closed);
    // Wine's own splitting of our argv; a Wine run as another user.
    if (lxt::is_wine() && (c.id.find('"') != std::string::npos || !c.closed.empty())) continue;
    gathered(true);
    // Nor is the folder it is started in finished in the data directory's stead.
    dir_.write("WORKING.gdbm", "working\n");
    std::vector<std::string> runner;
    if (!c.closed.empty()) {
      std::filesystem::permissions(dir_.file(c.closed), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
      runner = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
      if (c.closed != "data") data_owner(65534);
    }
    lxt::RunOptions options;
    options.set("LXG_STARTMODE", "LX").set("KESTREL_GATHERER_LOGFILE", dir_.host("seal.log"));
    const RunResult result = storeseal({c.id, data()}, options, runner);
    if (!c.closed.empty()) std::filesystem::permissions(dir_.file(c.closed), std::filesystem::perms(0755));
    data_owner(0);
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(matches(result.err, c.err)) << result.err;
    EXPECT_TRUE(programs().empty());
    EXPECT_EQ(dir_.read("data/WORKING.gdbm") + dir_.read("data/REFRESH.gdbm") + dir_.read("WORKING.gdbm"),
              "working\nrefresh\nworking\n");
    EXPECT_FALSE(dir_.exists("seal.log"));
  }
  // The longest ID that fits still runs.
  gathered(false);
  const RunResult fits = storeseal({std::string(200, 'g'), data()});
  EXPECT_EQ(fits.status, 0) << fits.err;
}

}  // namespace
