// The scheduler's cycle command and the status command, run as black boxes:
// lorvex-cycle over the real launcher, whose Perl is the recording double
// (it writes the cycle's output), and lorvex-status over gatherer folders
// as the launcher, the cycle command and the export daemon leave them.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "tests/programs/program_test.h"

namespace {

using std::chrono::milliseconds;

using lxt::matches;

const std::string kStamp = std::string(lxt::kStampPattern) + " ";

// A message page as the system writes one; the identification comments
// come after the number's comment and must not be taken for it.
std::string page(const std::string& number, const std::string& text) {
  return "Content-Type: text/html\n\n<!-- " + number +
         " 8765 -->\n<!-- Lorvex: the gathering administration. -->\n<!-- Rights. -->\n\n"
         "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML//EN\">\n<FONT SIZE=\"4\"><DL><DD><TABLE><TR>\n"
         "<TD ALIGN=\"left\">" + number + ":</TD>\n<TD ALIGN=\"left\">" + text +
         "</TD>\n</TR></TABLE></DL></FONT>\n</BODY></HTML>\n";
}

class Gatherers : public lxt::ProgramTest {
 protected:
  void SetUp() override {
    for (const char* d : {"home", "home/bin", "home/gatherers", "home/gatherers/g1", "data", "layout", "inst"}) {
      dir_.mkdir(d);
    }
    lxt::install_double("lxrecord", dir_.file("home/bin"), "perl");
    dir_.write("layout/g1.ini", "KESTREL_HOME=" + dir_.file("home") + "\nGATHERER_NAME=g1\nGATHERER_DATA=" +
                                    dir_.file("data") + "\nGATHERER_PORT=8500\n");
    dir_.write(gdir("g1.cf"), "Gatherer-Name: g1\nData-Directory: " + dir_.file("data") + "\nURL: file:a.html\n");
    ASSERT_TRUE(install_.write_registry(lxt::RegistryKeys{.path00 = dir_.file("inst"), .env_info = ""}));
  }

  std::string gdir(const std::string& name = "") const { return "home/gatherers/g1" + (name.empty() ? "" : "/" + name); }

  lxt::RunResult run(const std::string& program, const std::vector<std::string>& args, lxt::RunOptions o = {}) const {
    o.cwd = dir_.path();
    o.set("LORVEX_EVENTLOG", dir_.file("events")).set("LORVEX_GATHERERS", dir_.file("layout"));
    return run_program(program, args, o);
  }
};

// ---- lorvex-cycle ----------------------------------------------------------------

TEST_F(Gatherers, TheCycleCommandTellsTheOutcomeByItsStatusInTheLogAndInLastCycle) {
  struct Case {
    std::string name;
    std::string output;  // what the cycle writes on its standard output
    int status;
    std::string type;  // the system log's word
    std::string what;  // the recorded line after "g1: status N: "
  };
  const std::string told = page("LXCM601-I", "The search service was told.");
  const Case cases[] = {
      {"clean", told, 0, "INFORMATION", "LXCM601-I:The search service was told."},
      {"finishing failed before the cycle's page", "seal: 3 steps\n" + page("LXCM030-E", "Sealing failed.") + told,
       1, "ERROR", "LXCM601-I:The search service was told."},
      {"no search service, a text of two lines", page("LXCM019-E", "No service\non port 8765."), 1, "ERROR",
       "LXCM019-E:No service on port 8765."},
      {"a page cut off before its text", "Content-Type: text/html\n\n<!-- LXCM019-E -->\n", 1, "ERROR",
       "LXCM019-E:"},
      {"no page", "seal: 3 steps\n<!-- LXCM601-I -->\n", 2, "ERROR", "no message page came"},
      {"a text too long to keep", page("LXCM019-E", std::string(3000, 'x')), 1, "ERROR",
       "LXCM019-E:" + std::string(1024, 'x') + " ..."},
      {"a number too long to be one", page(std::string(40, 'A') + "-I", "x"), 2, "ERROR", "no message page came"},
  };
  // A link in the place of the kept file, or of its work file, is replaced,
  // never written through, whatever it leads to.
  dir_.write("outside", "not the outcome\n");
  ASSERT_EQ(::mkfifo(dir_.file("fifo").c_str(), 0644), 0);
  ASSERT_EQ(::symlink(dir_.file("fifo").c_str(), dir_.file(gdir("last-cycle")).c_str()), 0);
  ASSERT_EQ(::symlink(dir_.file("outside").c_str(), dir_.file(gdir("last-cycle.new")).c_str()), 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ::unlink(dir_.file("events").c_str());
    lxt::RunOptions o;
    o.set("LXT_PERL_PRINT", c.output);
    const lxt::RunResult r = run("lorvex-cycle", {dir_.file("layout/g1.ini")}, o);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(r.out, c.output) << "passed on unchanged";
    const std::string line = "g1: status " + std::to_string(c.status) + ": " + c.what;
    char id[16];
    std::snprintf(id, sizeof id, "0x%08X", c.status);
    EXPECT_EQ(dir_.read("events"), "lorvex-cycle\t" + c.type + "\t" + id + "\t" + line + "\n");
    const std::string kept = dir_.read(gdir("last-cycle"));
    EXPECT_TRUE(matches(kept, "^" + kStamp)) << kept;
    EXPECT_EQ(kept.substr(kept.find(' ', 9) + 1), line + "\n");
    EXPECT_FALSE(dir_.exists(gdir("last-cycle.new")));
  }
  EXPECT_EQ(dir_.read("outside"), "not the outcome\n");
  struct stat fifo {};
  EXPECT_TRUE(::stat(dir_.file("fifo").c_str(), &fifo) == 0 && S_ISFIFO(fifo.st_mode));
  EXPECT_EQ(journal().size(), std::size(cases)) << "one cycle each";
  // A clean cycle whose outcome cannot be kept is no success; a failed one
  // stays a failure.
  ::unlink(dir_.file(gdir("last-cycle")).c_str());
  dir_.mkdir(gdir("last-cycle"));
  for (const auto& [output, status] : {std::pair{cases[0].output, 3}, std::pair{cases[2].output, 1}}) {
    lxt::RunOptions o;
    o.set("LXT_PERL_PRINT", output);
    ::unlink(dir_.file("events").c_str());
    const lxt::RunResult r = run("lorvex-cycle", {dir_.file("layout/g1.ini")}, o);
    EXPECT_EQ(r.status, status);
    EXPECT_TRUE(matches(r.err, "last-cycle is not a regular file\\.  The outcome is not kept\\.")) << r.err;
    EXPECT_TRUE(matches(dir_.read("events"), "\t0x0000000" + std::to_string(status) + "\tg1: status " +
                                                 std::to_string(status) + ": [^\n]*" +
                                                 (status == 3 ? "told\\. \\(not kept in last-cycle\\)" : "") + "\n$"))
        << dir_.read("events");
  }
}

TEST_F(Gatherers, TheCycleCommandSaysTryLaterWhileAGathererIsAtWork) {
  const std::string failed = "20261209 18:00:00 g1: status 1: LXCM019-E:x\n";
  dir_.write(gdir("last-cycle"), failed);
  auto holder = hold(gdir("log.gatherer"), gdir("Gatherer.pid"));
  // Whether the pid file names the gatherer or holds no number.
  for (const std::string says : {"The gatherer of process ID [0-9]+ is running\\.",
                                 "A gatherer is running, but Gatherer\\.pid holds no process ID\\."}) {
    ::unlink(dir_.file("events").c_str());
    const lxt::RunResult r = run("lorvex-cycle", {dir_.file("layout/g1.ini")});
    EXPECT_EQ(r.status, 75);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(matches(r.err, "^LaunchCrawler: [^\n]*ERROR: " + says)) << r.err;
    EXPECT_TRUE(journal().empty()) << "no second cycle";
    EXPECT_EQ(dir_.read("events"), "lorvex-cycle\tWARNING\t0x0000004B\tg1: status 75: a gatherer is already at work\n");
    EXPECT_EQ(dir_.read(gdir("last-cycle")), failed) << "the last cycle's failure stays";
    dir_.write(gdir("Gatherer.pid"), "x\n");
  }
  dir_.write("release", "");
  ASSERT_TRUE(holder->wait(milliseconds(30000)).has_value());
  // No page, and the launcher's own line says why.
  ::unlink(dir_.file(gdir("Gatherer.pid")).c_str());
  ASSERT_EQ(::mkfifo(dir_.file(gdir("Gatherer.pid")).c_str(), 0644), 0);
  EXPECT_EQ(run("lorvex-cycle", {dir_.file("layout/g1.ini")}).status, 2);
  EXPECT_TRUE(matches(dir_.read(gdir("last-cycle")),
                      "^" + kStamp + "g1: status 2: no message page came \\(Cannot open Gatherer\\.pid \\(errno=13\\)\\.\\)\n$"))
      << dir_.read(gdir("last-cycle"));
}

// A cycle whose outcome would have no place is not run: the launcher would
// run it in the current directory. The system log says why.
TEST_F(Gatherers, TheCycleCommandRunsNoCycleWithoutAGathererDirectory) {
  const std::string base = "KESTREL_HOME=" + dir_.file("home") + "\nGATHERER_DATA=" + dir_.file("data") + "\n";
  dir_.write("home/gatherers/file", "");
  struct Case {
    std::string name;
    std::string settings;  // empty: no settings file
    std::string error;     // a pattern of the error line
    std::string why;       // the logged line after "status 2: "
  };
  const Case cases[] = {
      {"no settings file", "", "Cannot open [^\n]*none\\.ini \\(errno=2\\)\\.  No cycle is run\\.",
       "the settings file cannot be opened \\(errno=2\\)"},
      {"no gatherer directory", base + "GATHERER_NAME=gone\n",
       "Cannot find the gatherer directory [^\n]*/home/gatherers/gone \\(errno=2\\)\\.  No cycle is run\\.",
       "the gatherer directory .*/gone cannot be found \\(errno=2\\)"},
      {"a file in its place", base + "GATHERER_NAME=file\n", "/home/gatherers/file is not a directory\\.",
       "the gatherer directory .*/file is not a directory"},
      {"half a character", base + "GATHERER_NAME=g1\x83\n", "is invalid\\.  \\(GATHERER_NAME ends in half",
       "GATHERER_NAME ends in half a double-byte character"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ::unlink(dir_.file("events").c_str());
    if (!c.settings.empty()) dir_.write("none.ini", c.settings);
    const lxt::RunResult r = run("lorvex-cycle", {dir_.file("none.ini")});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(matches(r.err, "^lorvex-cycle: [^\n]*" + c.error)) << r.err;
    EXPECT_TRUE(matches(dir_.read("events"), "\tERROR\t0x00000002\t.*: status 2: " + c.why + "\n$"))
        << dir_.read("events");
    EXPECT_TRUE(journal().empty()) << "no cycle";
    EXPECT_FALSE(dir_.exists("log.gatherer")) << "nothing in the current directory";
  }
}

// The other lines of a settings file are the environment of the gatherer's
// processes, never the commands' own: they cannot send the system log's line
// elsewhere nor show another installation's cycle lock.
TEST_F(Gatherers, ASettingsFileSetsNeitherCommandsOwnEnvironment) {
  dir_.mkdir("other");
  dir_.write("other/.lxQ71K58R03lock", "");
  dir_.write("other.reg", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMORA\\Moxa3R\\0201/A\\PathName]\n\"Path00\"=\"" +
                              dir_.file("other") + "\"\n");
  dir_.write("layout/g1.ini", dir_.read("layout/g1.ini") + "LORVEX_EVENTLOG=" + dir_.file("elsewhere") +
                                  "\nLORVEX_REGISTRY=" + dir_.file("other.reg") + "\n");
  lxt::RunOptions o;
  o.set("LXT_PERL_PRINT", page("LXCM601-I", "told"));
  EXPECT_EQ(run("lorvex-cycle", {dir_.file("layout/g1.ini")}, o).status, 0);
  EXPECT_FALSE(dir_.exists("elsewhere"));
  EXPECT_TRUE(matches(dir_.read("events"), "\tg1: status 0: LXCM601-I:told\n$"));
  const lxt::RunResult r = run("lorvex-status", {"--brief"});
  EXPECT_TRUE(matches(r.out, "; lock none;")) << r.out;
}

// ---- lorvex-status ---------------------------------------------------------------

TEST_F(Gatherers, TheStatusCommandTellsWhatIsAtWorkAndWhatNeedsAttention) {
  dir_.write("data/PRODUCTION.gdbm", "db");
  dir_.write("data/INFO.soif", "@INFO { g1\nGatherer-ID{2}:\tg1\nNumber-Of-Templates{1}:\t3\n}\n");
  dir_.write(gdir("last-cycle"), "20261209 18:00:00 g1: status 0: LXCM601-I:told\n");
  struct Case {
    std::string name;
    std::string setup;  // what is made before the look
    std::string brief;  // a pattern of the brief line
    int status;
  };
  const Case cases[] = {
      {"idle", "", "^g1: cycle idle; daemon free; templates 3; database [0-9]+s; lock none; last "
                   "\"20261209 18:00:00 g1: status 0: LXCM601-I:told\"\n$", 0},
      {"at work", "cycle", "^g1: cycle at work; daemon free;.*; lock none;", 0},
      {"at work, the cycle's lock held", "cycle,lock", "^g1: cycle at work;.*; lock held \\([0-9]+s\\);", 0},
      {"daemon running", "daemon", "^g1: cycle idle; daemon held;", 0},
      {"a lock left behind", "lock", "; lock left behind \\([0-9]+s\\);", 1},
      {"drifted data directory", "drift", "; warning: GATHERER_DATA .* and the Data-Directory .*/home/gatherers/g1/data "
                                          "of g1.cf disagree", 1},
      {"the last cycle failed", "failed", "; last \"[^\"]*status 1: LXCM019-E:x\"\n$", 1},
      {"a daemon's log that cannot be tested", "logdir",
       "^g1: cycle idle; daemon cannot tell \\(whether exportd\\.log is held cannot be tested[^)]*\\);", 1},
      // Judged as entries: what a link leads to may be any process's file,
      // and the age of a lock that is a link is the link's own.
      {"a daemon's log that is a link to a held file", "loglink",
       "^g1: cycle idle; daemon cannot tell \\(exportd\\.log is a symbolic link\\);", 1},
      {"a lock that is a link to an old file", "locklink", "; lock left behind \\([0-9]+s\\);", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<lxt::Background> cycle, daemon;
    if (c.setup.find("cycle") != std::string::npos) cycle = hold(gdir("log.gatherer"), gdir("Gatherer.pid"));
    if (c.setup.find("daemon") != std::string::npos) daemon = hold("data/exportd.log", "data/Exportd.pid");
    if (c.setup.find("lock") != std::string::npos) dir_.write("inst/.lxQ71K58R03lock", "");
    if (c.setup == "drift") dir_.write(gdir("g1.cf"), "Gatherer-Name: g1\nURL: file:a.html\n");
    if (c.setup == "failed") dir_.write(gdir("last-cycle"), "20261209 18:00:00 g1: status 1: LXCM019-E:x\n");
    if (c.setup == "loglink") {
      daemon = hold("data/other.log", "data/Exportd.pid");
      ::unlink(dir_.file("data/exportd.log").c_str());
      ::symlink("other.log", dir_.file("data/exportd.log").c_str());
    }
    if (c.setup == "locklink") {
      dir_.write("old", "");
      const timespec a_day_ago[2] = {{::time(nullptr) - 86400, 0}, {::time(nullptr) - 86400, 0}};
      ::utimensat(AT_FDCWD, dir_.file("old").c_str(), a_day_ago, 0);
      ::symlink(dir_.file("old").c_str(), dir_.file("inst/.lxQ71K58R03lock").c_str());
    }
    if (c.setup == "logdir") {
      ::unlink(dir_.file("data/exportd.log").c_str());
      dir_.mkdir("data/exportd.log");
      dir_.write("data/Exportd.pid", "4242\n");
    }
    const lxt::RunResult r = run("lorvex-status", {"--brief"});
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_TRUE(matches(r.out, c.brief)) << r.out;
    // Put back.
    dir_.write("release", "");
    if (cycle) cycle->wait(milliseconds(30000));
    if (daemon) daemon->wait(milliseconds(30000));
    for (const char* f : {"release", "inst/.lxQ71K58R03lock", "home/gatherers/g1/Gatherer.pid", "data/Exportd.pid"}) {
      ::unlink(dir_.file(f).c_str());
    }
    ::rmdir(dir_.file("data/exportd.log").c_str());
    ::unlink(dir_.file("data/exportd.log").c_str());
    dir_.write(gdir("g1.cf"), "Gatherer-Name: g1\nData-Directory: " + dir_.file("data") + "\nURL: file:a.html\n");
    dir_.write(gdir("last-cycle"), "20261209 18:00:00 g1: status 0: LXCM601-I:told\n");
  }
}

TEST_F(Gatherers, TheStatusTableNamesEachGathererAndCannotTellWithoutItsSettings) {
  const lxt::RunResult table = run("lorvex-status", {});
  EXPECT_EQ(table.status, 0) << table.out << table.err;
  EXPECT_TRUE(matches(table.out, "^GATHERER +CYCLE +DAEMON +TEMPLATES +DATABASE AGE +LAST CYCLE\n"
                                 "g1 +idle +free +- +none +none\ncycle lock: none ")) << table.out;
  // A directory by a settings file's name is a gatherer that cannot be told,
  // and a last cycle that cannot be understood is "cannot tell" in the table
  // as in the brief line.
  dir_.mkdir("layout/d.ini");
  dir_.write(gdir("last-cycle"), "garbage\n");
  const lxt::RunResult unknown = run("lorvex-status", {});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_TRUE(matches(unknown.out, "\n[^\n]*/layout/d\\.ini +cannot tell +cannot tell +- +- +the settings file "
                                   "cannot be opened[^\n]*\ng1 +idle +free +- +none +cannot tell\n[^\n]*"
                                   "g1: warning: last-cycle cannot be understood\n"))
      << unknown.out;
  // A named settings file that cannot be read, or whose directory cannot be
  // named, is an answer that cannot be had.
  dir_.write("half.ini", "KESTREL_HOME=" + dir_.file("home") + "\x83\nGATHERER_NAME=g1\nGATHERER_DATA=data\n");
  for (const auto& [file, says] :
       {std::pair<std::string, std::string>{"none.ini", "the settings file cannot be opened \\(errno=2\\)"},
        {"half.ini", "KESTREL_HOME ends in half a double-byte character"}}) {
    const lxt::RunResult named = run("lorvex-status", {"--brief", dir_.file(file)});
    EXPECT_EQ(named.status, 1);
    EXPECT_TRUE(matches(named.out, ": cannot tell: " + says + "\n$")) << named.out;
  }
}

// Whatever stands in the place of last-cycle, the database or its statistics,
// the command reads only what a regular file holds (a record only as the
// cycle command writes it), never what a link leads to, never waits, and says
// when it cannot tell.
TEST_F(Gatherers, TheStatusCommandReadsOnlyWhatRegularFilesHoldAndSaysWhenItCannotTell) {
  const std::string stamp = "20261209 18:00:00 ";
  const std::string last = gdir("last-cycle"), info = "data/INFO.soif", db = "data/PRODUCTION.gdbm";
  const std::string count = "@INFO { g1\nNumber-Of-Templates{2}:\t";
  dir_.write("secret", "root:the first line of a file the command may read\n");
  struct Case {
    std::string name;
    // What is put where: "link" (to the secret), "zero" (a link to a device),
    // "fifo", "dir", or the file's bytes.
    std::vector<std::pair<std::string, std::string>> files;
    std::string brief;  // a pattern of the brief line's end
    int status;
  };
  const std::string unknown = "; last cannot tell; warning: last-cycle cannot be understood\n$";
  const Case cases[] = {
      {"a link as last-cycle", {{last, "link"}},
       "; last cannot tell; warning: last-cycle is a symbolic link, not a regular file: it is not read\n$", 1},
      {"a link to a device as last-cycle", {{last, "zero"}}, "last-cycle is a symbolic link", 1},
      {"a FIFO as last-cycle", {{last, "fifo"}},
       "; last cannot tell; warning: last-cycle is a FIFO, not a regular file: it is not read\n$", 1},
      {"a directory as last-cycle", {{last, "dir"}}, "; warning: last-cycle is a directory, not a regular file", 1},
      {"a line longer than a record", {{last, std::string(5000, 'a')}},
       "; last cannot tell; warning: last-cycle cannot be understood: its first line is longer than 4096 bytes\n$", 1},
      {"a record that is cut off", {{last, "...g1: sta\n"}}, unknown, 1},
      {"a status beyond any number", {{last, stamp + "g1: status 99999999999999999999: x\n"}}, unknown, 1},
      {"a status no cycle ends with", {{last, stamp + "g1: status 3: x\n"}}, unknown, 1},
      {"a NUL byte in the text", {{last, stamp + std::string("g1: status 0: o\0k\n", 18)}}, unknown, 1},
      {"another gatherer's record", {{last, stamp + "g2: status 0: x\n"}}, unknown, 1},
      {"an empty last-cycle", {{last, ""}}, unknown, 1},
      {"a cycle that found one at work", {{last, stamp + "g1: status 75: a gatherer is already at work\n"}},
       "; last \"" + stamp + "g1: status 75: a gatherer is already at work\"\n$", 0},
      {"a record ending in CR LF", {{last, stamp + "g1: status 0: told\r\nmore\n"}},
       "; last \"" + stamp + "g1: status 0: told\"\n$", 0},
      {"a record of the longest length", {{last, stamp + "g1: status 2: " + std::string(4096 - 32, 'w')}},
       "; last \"" + stamp + "g1: status 2: w+\"\n$", 1},
      {"a record a byte too long", {{last, stamp + "g1: status 2: " + std::string(4097 - 32, 'w')}},
       "longer than 4096 bytes", 1},
      {"a count", {{db, "db"}, {info, count + "12 \n}\n"}}, "; templates 12; database [0-9]+s; lock none; last none\n$",
       0},
      {"a directory as the database", {{db, "dir"}},
       "; templates -; database cannot tell; lock none; last none; warning: PRODUCTION.gdbm is a directory, not a "
       "database\n$", 1},
      {"statistics that are a FIFO", {{db, "db"}, {info, "fifo"}},
       "; templates -; database [0-9]+s;.*; warning: INFO.soif is a FIFO, not a regular file: it is not read\n$", 1},
      {"statistics that are a device", {{db, "db"}, {info, "zero"}},
       "; templates -;.*; warning: INFO.soif is a device, not a regular file", 1},
      {"a count that is a word", {{db, "db"}, {info, count + "abc\n}\n"}},
       "; templates -;.*; warning: INFO.soif cannot be understood: its Number-Of-Templates is no count\n$", 1},
      {"a count with more after it", {{db, "db"}, {info, count + "3abc\n}\n"}}, "; templates -;.*is no count", 1},
      {"a count beyond any number", {{db, "db"}, {info, count + "99999999999999999999\n}\n"}},
       "; templates -;.*is no count", 1},
      {"a negative count", {{db, "db"}, {info, count + "-3\n}\n"}}, "; templates -;.*is no count", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& [name, make] : c.files) {
      const std::string path = dir_.file(name);
      if (make == "link") {
        ASSERT_EQ(::symlink(dir_.file("secret").c_str(), path.c_str()), 0);
      } else if (make == "zero") {
        ASSERT_EQ(::symlink("/dev/zero", path.c_str()), 0);
      } else if (make == "fifo") {
        ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
      } else if (make == "dir") {
        dir_.mkdir(name);
      } else {
        dir_.write(name, make);
      }
    }
    lxt::RunOptions o;
    o.timeout = milliseconds(60000);
    const lxt::RunResult r = run("lorvex-status", {"--brief"}, o);
    EXPECT_FALSE(r.timed_out) << "waited for a writer";
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_TRUE(matches(r.out, "^g1: cycle idle; daemon free[^\n]*" + c.brief)) << r.out;
    EXPECT_EQ(r.out.find("root:"), std::string::npos) << "what the link leads to is shown";
    EXPECT_EQ(r.out.find("aaaa"), std::string::npos) << "a line that is no record is shown";
    for (const auto& [name, make] : c.files) {
      ::rmdir(dir_.file(name).c_str());
      ::unlink(dir_.file(name).c_str());
    }
  }
}

// A report that reaches no one is no answer: it ends with an error line and
// the status that asks for attention, whatever the gatherers' state. A report
// longer than the stream's buffer tells its own write's error.
TEST_F(Gatherers, TheStatusCommandFailsWhenItsReportCannotBeWritten) {
  struct Case {
    std::string name;
    std::string redirect;  // the shell's redirection of standard output, "" for a pipe without a reader
    int settings_files;    // named as arguments; 0: the layout's
    std::string err;
  };
  const Case cases[] = {
      {"a reader that has gone", "", 0, "Cannot write the report \\(errno=32\\)\\."},
      {"a full device", ">/dev/full", 0, "Cannot write the report \\(errno=28\\)\\."},
      {"a long report to a full device", ">/dev/full", 200, "Cannot write the report \\(errno=28\\)\\."},
      {"no standard output", ">&-", 0, "Cannot write the report: the command was started without standard output\\."},
  };
  for (const bool brief : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name + (brief ? ", brief" : ""));
      lxt::RunOptions o;
      o.set("LORVEX_GATHERERS", dir_.file("layout"));
      o.stdout_closed = c.redirect.empty();
      std::vector<std::string> argv{"/bin/sh", "-c", "exec \"$0\" \"$@\" " + c.redirect, lxt::program("lorvex-status")};
      if (brief) argv.push_back("--brief");
      argv.insert(argv.end(), c.settings_files, dir_.file("layout/g1.ini"));
      const lxt::RunResult r = run_argv(argv, o);
      EXPECT_EQ(r.status, 1);
      EXPECT_TRUE(matches(r.err, "^lorvex-status: [^\n]*: ERROR: " + c.err + "\n$")) << r.err;
    }
  }
  // Written, the same state is fine.
  EXPECT_EQ(run("lorvex-status", {}).status, 0);
}

// Any word that starts with "-" is an option: an unknown one is a usage
// error, never taken for a settings file; such a file is named "./-x".
TEST_F(Gatherers, TheStatusCommandRefusesAnyUnknownOption) {
  dir_.write("-x", dir_.read("layout/g1.ini"));
  struct Case {
    std::vector<std::string> args;
    int status;
  };
  const Case cases[] = {
      {{"-x"}, 2},
      {{"-"}, 2},
      {{"--brief", "-x"}, 2},
      {{"./-x", "-b"}, 2},
      {{"--brief", "--brief"}, 2},
      {{"--all"}, 2},
      {{"--brief", "./-x"}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : ""));
    const lxt::RunResult r = run("lorvex-status", c.args);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    if (c.status == 2) {
      EXPECT_TRUE(matches(r.err, "Usage: lorvex-status")) << r.err;
      EXPECT_EQ(r.out, "");
    } else {
      EXPECT_TRUE(matches(r.out, "^g1: cycle idle;")) << r.out;
    }
  }
}

// The paths of a settings file are the starting directory's, wherever the
// look goes; an administrator's run as the service user from a directory
// that user cannot enter still reports.
TEST_F(Gatherers, TheStatusCommandReportsFromAnyStartingDirectory) {
  dir_.write(gdir("last-cycle"), "20261209 18:00:00 g1: status 0: told\n");
  dir_.write("relative.ini", "KESTREL_HOME=home\nGATHERER_NAME=g1\nGATHERER_DATA=data\n");
  dir_.write(gdir("g1.cf"), "Gatherer-Name: g1\nData-Directory: " + dir_.file("data") + "\n");
  const std::string told = "g1: cycle idle; daemon free;[^\n]*; last \"20261209 18:00:00 g1: status 0: told\"\n";
  const lxt::RunResult relative = run("lorvex-status", {"--brief", "relative.ini", "relative.ini"});
  EXPECT_EQ(relative.status, 0) << relative.out << relative.err;
  EXPECT_TRUE(matches(relative.out, "^" + told + told + "$")) << relative.out;
  if (::geteuid() != 0) GTEST_SKIP() << "another user's run needs root";
  for (const std::string d : {"", "layout", "home", "home/gatherers", "home/gatherers/g1", "data", "inst"}) {
    ::chmod(dir_.file(d).c_str(), 0755);
  }
  dir_.mkdir("private");
  ::chmod(dir_.file("private").c_str(), 0700);
  lxt::RunOptions o;
  o.cwd = dir_.file("private");
  o.set("LORVEX_GATHERERS", dir_.file("layout"));
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--brief"}, std::vector<std::string>{"--brief", dir_.file("layout/g1.ini")}}) {
    SCOPED_TRACE(args.size());
    std::vector<std::string> argv{"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                  lxt::program("lorvex-status")};
    argv.insert(argv.end(), args.begin(), args.end());
    const lxt::RunResult r = run_argv(argv, o);
    EXPECT_TRUE(matches(r.out, "^" + told + "$")) << r.out << r.err;
  }
}

}  // namespace
