// The status command, run as a black box: lorvex-status over gatherer
// folders as the launcher, the cycle command and the export daemon leave
// them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <csignal>

#include <chrono>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "tests/programs/gatherers_fixture.h"
#include "tests/programs/program_test.h"

namespace {

using std::chrono::milliseconds;

using lxt::matches;

using lxt::Gatherers;
using lxt::last_cycle_record;
using lxt::record;

// ---- lorvex-status ---------------------------------------------------------------

// A state of a gatherer as the look finds it, and the brief line it gets.
struct StateCase {
  std::string name;
  std::string setup;  // what is made before the look
  std::string brief;  // a pattern of the brief line
  int status;
};

const StateCase kStateCases[] = {
    {"idle", "", "^g1: cycle idle; daemon free; templates 3; database [0-9]+s; lock none; finishing done; last "
                 "\"status 0: clean \\(20261209 18:10:00\\)\"\n$", 0},
    {"at work", "cycle", "^g1: cycle at work; daemon free;.*; lock none;", 0},
    {"at work, the cycle's lock held", "cycle,lock", "^g1: cycle at work;.*; lock held \\([0-9]+s\\);", 0},
    {"daemon running", "daemon", "^g1: cycle idle; daemon held;", 0},
    {"a lock left behind", "lock", "; lock left behind \\([0-9]+s\\);", 1},
    {"drifted data directory", "drift", "; warning: GATHERER_DATA .* and the Data-Directory .*/home/gatherers/g1/data "
                                        "of g1.cf disagree", 1},
    {"the last cycle failed", "failed", "; last \"status 1: x \\(20261209 18:10:00\\)\"\n$", 1},
    {"the finishing failed", "unfinished", "; finishing failed at dump: x; ", 1},
    {"a cycle that began and never ended", "began", "; last \"interrupted: the cycle begun 20261209 19:00:00 never "
                                                    "ended; before it, status 0: clean", 1},
    {"a dump that is not the database's", "old dump", "; warning: All-Templates.gz is not the dump of "
                                                      "PRODUCTION.gdbm: the export daemon serves templates of another "
                                                      "database\n$", 1},
    {"a database older than the last clean cycle", "older", "; warning: PRODUCTION.gdbm is older than the last clean "
                                                            "cycle", 1},
    {"a daemon that died without its stop", "dead daemon", "^g1: cycle idle; daemon free;.*; warning: Exportd.pid is "
                                                           "left behind: it names no running daemon", 1},
    {"a daemon's log that cannot be tested", "logdir",
     "^g1: cycle idle; daemon cannot tell \\(whether exportd\\.log is held cannot be tested[^)]*\\);", 1},
    // Judged as entries: what a link leads to may be any process's file,
    // and the age of a lock that is a link is the link's own.
    {"a daemon's log that is a link to a held file", "loglink",
     "^g1: cycle idle; daemon cannot tell \\(exportd\\.log is a symbolic link\\);", 1},
    {"a lock that is a link to an old file", "linked", "; lock left behind \\([0-9]+s\\);", 1},
};

// The layout with a clean cycle, its finishing done and its dump the
// database's, into which a case makes its state.
class StateLook : public Gatherers {
 protected:
  void write_finishing(bool done) const {
    dir_.write("data/storeseal.outcome",
               record("storeseal", std::string("status=") + (done ? "0\nfailed=none\n" : "1\nfailed=dump\nline=x\n") +
                                       "production=-\ndump=-\ndump-state=new\n"));
  }

  // The dump is the database's when packdump's record says both are as they are.
  void write_dump_record() const {
    std::string production, dump;
    for (const auto& [name, value] : {std::pair<const char*, std::string*>{"data/PRODUCTION.gdbm", &production},
                                      {"data/All-Templates.gz", &dump}}) {
      struct stat st {};
      ASSERT_EQ(::stat(dir_.file(name).c_str(), &st), 0);
      *value = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" + std::to_string(st.st_size) + ":" +
               std::to_string(st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec);
    }
    dir_.write("data/packdump.outcome", record("packdump", "status=0\nfailed=none\nproduction=" + production +
                                                               "\ndump=" + dump + "\n"));
  }

  void make_clean() const {
    dir_.write("data/PRODUCTION.gdbm", "db");
    dir_.write("data/All-Templates.gz", "dump");
    dir_.write("data/INFO.soif", "@INFO { g1\nGatherer-ID{2}:\tg1\nNumber-Of-Templates{1}:\t3\n}\n");
    dir_.write(gdir("last-cycle"), last_cycle_record(0, "clean"));
    write_finishing(true);
    write_dump_record();
  }

  // What a case makes of the files; the processes that hold a file stay
  // until put_back.
  void make(const std::string& setup) {
    if (setup.find("cycle") != std::string::npos) cycle_ = hold(gdir("log.gatherer"), gdir("Gatherer.pid"));
    if (setup == "daemon") daemon_ = hold("data/exportd.log", "data/Exportd.pid");
    if (setup.find("lock") != std::string::npos) dir_.write("inst/.lxQ71K58R03lock", "");
    if (setup == "drift") dir_.write(gdir("g1.cf"), "Gatherer-Name: g1\nURL: file:a.html\n");
    if (setup == "failed") dir_.write(gdir("last-cycle"), last_cycle_record(1, "x"));
    if (setup == "unfinished") write_finishing(false);
    if (setup == "began") {
      dir_.write(gdir("cycle-began"), record("lorvex-cycle", "began=20261209 19:00:00\nbegan-at=1765303600\n",
                                             std::string(32, 'a')));
    }
    if (setup == "old dump") dir_.write("data/All-Templates.gz", "another dump");
    if (setup == "older") dir_.write(gdir("last-cycle"), last_cycle_record(0, "clean", "last-clean-at=99999999999\n"));
    if (setup == "dead daemon") dir_.write("data/Exportd.pid", "4242\n");
    if (setup == "loglink") {
      daemon_ = hold("data/other.log", "data/Exportd.pid");
      ::unlink(dir_.file("data/exportd.log").c_str());
      ::symlink("other.log", dir_.file("data/exportd.log").c_str());
    }
    if (setup == "linked") {
      dir_.write("old", "");
      const timespec a_day_ago[2] = {{::time(nullptr) - 86400, 0}, {::time(nullptr) - 86400, 0}};
      ::utimensat(AT_FDCWD, dir_.file("old").c_str(), a_day_ago, 0);
      ::symlink(dir_.file("old").c_str(), dir_.file("inst/.lxQ71K58R03lock").c_str());
    }
    if (setup == "logdir") {
      ::unlink(dir_.file("data/exportd.log").c_str());
      dir_.mkdir("data/exportd.log");
      dir_.write("data/Exportd.pid", "4242\n");
    }
  }

  void put_back() {
    dir_.write("release", "");
    if (cycle_) cycle_->wait(milliseconds(30000));
    if (daemon_) daemon_->wait(milliseconds(30000));
    cycle_.reset();
    daemon_.reset();
    for (const char* f : {"release", "inst/.lxQ71K58R03lock", "home/gatherers/g1/Gatherer.pid", "data/Exportd.pid",
                          "home/gatherers/g1/cycle-began", "data/exportd.log"}) {
      ::unlink(dir_.file(f).c_str());
    }
    ::rmdir(dir_.file("data/exportd.log").c_str());
    dir_.write(gdir("g1.cf"), "Gatherer-Name: g1\nData-Directory: " + dir_.file("data") + "\nURL: file:a.html\n");
  }

  std::unique_ptr<lxt::Background> cycle_, daemon_;
};

TEST_F(StateLook, TheStatusCommandTellsWhatIsAtWorkAndWhatNeedsAttention) {
  for (const StateCase& c : kStateCases) {
    SCOPED_TRACE(c.name);
    make_clean();
    make(c.setup);
    const lxt::RunResult r = run("lorvex-status", {"--brief"});
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_TRUE(matches(r.out, c.brief)) << r.out;
    put_back();
  }
}

TEST_F(Gatherers, TheStatusTableNamesEachGathererAndCannotTellWithoutItsSettings) {
  const lxt::RunResult table = run("lorvex-status", {});
  EXPECT_EQ(table.status, 0) << table.out << table.err;
  EXPECT_TRUE(matches(table.out, "^GATHERER +CYCLE +DAEMON +TEMPLATES +DATABASE AGE +FINISHING +LAST CYCLE\n"
                                 "g1 +idle +free +- +none +none +none\ncycle lock: none ")) << table.out;
  // A directory by a settings file's name is a gatherer that cannot be told,
  // and a last cycle that cannot be understood is "cannot tell" in the table
  // as in the brief line.
  dir_.mkdir("layout/d.ini");
  dir_.write(gdir("last-cycle"), "garbage\n");
  const lxt::RunResult unknown = run("lorvex-status", {});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_TRUE(matches(unknown.out, "\n[^\n]*/layout/d\\.ini +cannot tell +cannot tell +- +- +- +the settings file "
                                   "cannot be opened[^\n]*\ng1 +idle +free +- +none +none +cannot tell\n[^\n]*"
                                   "g1: warning: last-cycle cannot be read: a line of it is no key=value line\n"))
      << unknown.out;
  // A named settings file that cannot be read, or whose directory cannot be
  // named, is an answer that cannot be had.
  dir_.write("half.ini", "KESTREL_HOME=" + dir_.file("home") + "\x83\nGATHERER_NAME=g1\nGATHERER_DATA=data\n");
  dir_.write("utf16.ini", lxt::saved_as_unicode(dir_.read("layout/g1.ini"))[1].first);
  for (const auto& [file, says] :
       {std::pair<std::string, std::string>{"none.ini", "the settings file cannot be opened \\(errno=2\\)"},
        {"half.ini", "KESTREL_HOME ends in half a double-byte character"},
        {"utf16.ini", "the settings file is saved as UTF-16 with a byte-order mark; save it as ANSI \\(Shift_JIS\\)"}}) {
    const lxt::RunResult named = run("lorvex-status", {"--brief", dir_.file(file)});
    EXPECT_EQ(named.status, 1);
    EXPECT_TRUE(matches(named.out, ": cannot tell: " + says + "\n$")) << named.out;
  }
}

// Whatever stands in the place of a record, the database or its statistics,
// the command reads only what a regular file holds (a record only as the
// system writes it, and only one that nobody else may have written), never
// what a link leads to, never waits, and says when it cannot tell.
// A file put where the look reads, or what stands in its place, and the
// brief line's end it gets.
struct FileCase {
  std::string name;
  // What is put where: "link" (to the secret), "zero" (a link to a device),
  // "fifo", "dir", "others" (the good record, group-writable), "foreign"
  // (the good record, another user's), or the file's bytes.
  std::vector<std::pair<std::string, std::string>> files;
  std::string brief;  // a pattern of the brief line's end
  int status;
};

const std::string kGoodRecord = last_cycle_record(0, "clean");

std::vector<FileCase> file_cases() {
  const std::string last = "home/gatherers/g1/last-cycle", info = "data/INFO.soif", db = "data/PRODUCTION.gdbm";
  const std::string count = "@INFO { g1\nNumber-Of-Templates{2}:\t";
  const std::string good = kGoodRecord;
  const std::string unknown = "; last cannot tell; warning: last-cycle cannot be read: ";
  return {
      {"a link as last-cycle", {{last, "link"}}, unknown + "it is no regular file\n$", 1},
      {"a link to a device as last-cycle", {{last, "zero"}}, unknown + "it is no regular file", 1},
      {"a FIFO as last-cycle", {{last, "fifo"}}, unknown + "it is no regular file\n$", 1},
      {"a directory as last-cycle", {{last, "dir"}}, unknown + "it is no regular file", 1},
      {"a record longer than a record", {{last, good + "what=" + std::string(5000, 'a') + "\n"}},
       unknown + "it is longer than 4096 bytes\n$", 1},
      {"a record that is cut off", {{last, good.substr(0, 40)}}, unknown + "its last line is not whole", 1},
      {"a status beyond any number", {{last, last_cycle_record(0, "x").replace(last_cycle_record(0, "x").find("status=0"), 8,
                                                                              "status=99999999999999999999")}},
       unknown + "its status is out of range", 1},
      {"a key twice", {{last, good + "status=0\n"}}, unknown + "its key status comes twice", 1},
      {"an unknown key", {{last, good + "colour=red\n"}}, unknown + "its key colour is unknown", 1},
      {"a missing key", {{last, record("lorvex-cycle", "status=0\n")}}, unknown + "it has no began", 1},
      {"another version", {{last, "version=2" + good.substr(9)}}, unknown + "its version is not 1", 1},
      {"another program's record", {{last, record("storeseal", good.substr(good.find("\nbegan=") + 1))}},
       unknown + "it is no record of lorvex-cycle", 1},
      {"a control byte in the text", {{last, last_cycle_record(0, std::string("o\x1b]2;k", 6))}},
       unknown + "it holds a control byte", 1},
      {"a record others may write", {{last, "others"}}, unknown + "others may write it", 1},
      {"a record of another user", {{last, "foreign"}}, unknown + "it belongs to user 65534", 1},
      {"an empty last-cycle", {{last, ""}}, unknown + "its last line is not whole", 1},
      {"a cycle that found one at work", {{last, last_cycle_record(75, "a gatherer is already at work")}},
       "; last \"status 75: a gatherer is already at work \\(20261209 18:10:00\\)\"\n$", 0},
      {"a count", {{db, "db"}, {info, count + "12 \n}\n"}},
       "; templates 12; database [0-9]+s; lock none; finishing none; last none; warning: whether All-Templates.gz", 1},
      {"a directory as the database", {{db, "dir"}},
       "; templates -; database cannot tell; lock none; finishing none; last none; warning: PRODUCTION.gdbm is a "
       "directory, not a database\n$", 1},
      {"statistics that are a FIFO", {{db, "db"}, {info, "fifo"}},
       "; templates -; database [0-9]+s;.*; warning: INFO.soif is a FIFO, not a regular file: it is not read", 1},
      {"statistics that are a device", {{db, "db"}, {info, "zero"}},
       "; templates -;.*; warning: INFO.soif is a device, not a regular file", 1},
      {"a count that is a word", {{db, "db"}, {info, count + "abc\n}\n"}},
       "; templates -;.*; warning: INFO.soif cannot be understood: its Number-Of-Templates is no count", 1},
      {"a count with more after it", {{db, "db"}, {info, count + "3abc\n}\n"}}, "; templates -;.*is no count", 1},
      {"a count beyond any number", {{db, "db"}, {info, count + "99999999999999999999\n}\n"}},
       "; templates -;.*is no count", 1},
      {"a negative count", {{db, "db"}, {info, count + "-3\n}\n"}}, "; templates -;.*is no count", 1},
  };
}

class FileLook : public Gatherers {
 protected:
  void make(const FileCase& c) const {
    for (const auto& [name, what] : c.files) {
      const std::string path = dir_.file(name);
      if (what == "link") {
        ASSERT_EQ(::symlink(dir_.file("secret").c_str(), path.c_str()), 0);
      } else if (what == "zero") {
        ASSERT_EQ(::symlink("/dev/zero", path.c_str()), 0);
      } else if (what == "fifo") {
        ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
      } else if (what == "dir") {
        dir_.mkdir(name);
      } else if (what == "others" || what == "foreign") {
        dir_.write(name, kGoodRecord);
        if (what == "others") {
          ::chmod(path.c_str(), 0664);
        } else {
          ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
        }
      } else {
        dir_.write(name, what);
      }
    }
  }

  void remove(const FileCase& c) const {
    for (const auto& file : c.files) {
      const std::string& name = file.first;
      ::rmdir(dir_.file(name).c_str());
      ::unlink(dir_.file(name).c_str());
    }
  }
};

TEST_F(FileLook, TheStatusCommandReadsOnlyWhatRegularFilesHoldAndSaysWhenItCannotTell) {
  dir_.write("secret", "root:the first line of a file the command may read\n");
  for (const FileCase& c : file_cases()) {
    SCOPED_TRACE(c.name);
    if (c.files[0].second == "foreign" && ::geteuid() != 0) continue;
    make(c);
    lxt::RunOptions o;
    o.timeout = milliseconds(60000);
    const lxt::RunResult r = run("lorvex-status", {"--brief"}, o);
    EXPECT_FALSE(r.timed_out) << "waited for a writer";
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_TRUE(matches(r.out, "^g1: cycle idle; daemon free[^\n]*" + c.brief)) << r.out;
    EXPECT_EQ(r.out.find("root:"), std::string::npos) << "what the link leads to is shown";
    EXPECT_EQ(r.out.find("aaaa"), std::string::npos) << "a line that is no record is shown";
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << "a control byte reached the terminal";
    remove(c);
  }
}

// Another user's lease on a file the look reads is no reason to wait: the
// file is "cannot tell" at once (the programs that must read it still wait).
TEST_F(Gatherers, TheStatusCommandNeverWaitsOnALease) {
  dir_.write(gdir("last-cycle"), last_cycle_record(0, "clean"));
  // The holder is told of the break by SIGIO, whose default would end it.
  std::signal(SIGIO, SIG_IGN);
  std::vector<int> held;
  for (const std::string& name : {gdir("g1.cf"), gdir("last-cycle")}) {
    const int fd = ::open(dir_.file(name).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    if (::fcntl(fd, F_SETLEASE, F_WRLCK) != 0) GTEST_SKIP() << "no lease can be taken here";
    held.push_back(fd);
  }
  lxt::RunOptions o;
  o.timeout = milliseconds(30000);
  const auto started = std::chrono::steady_clock::now();
  const lxt::RunResult r = run("lorvex-status", {"--brief"}, o);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20)) << "waited on a lease";
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(matches(r.out, "; last cannot tell; warning: last-cycle cannot be read: another process holds a "
                             "lease on it; warning: the data directories cannot be compared: [^;]*g1\\.cf cannot be "
                             "read: another process holds a lease on it\n$"))
      << r.out;
  for (const int fd : held) ::close(fd);
}

// What a file says reaches the terminal as text, never as its commands, and
// in the reader's character set (UTF-8 in the C locale, which shows nothing
// of Japanese text): Shift_JIS decoded, control characters made visible.
TEST_F(Gatherers, TheStatusCommandShowsWhatAFileSaysNeverWhatItCommands) {
  const struct {
    const char* what;
    std::string data_directory;  // of the .cf, Shift_JIS
    std::string shown;           // in the report's warning
  } rows[] = {
      {"a title, a wiped line and hidden text", "/x\x1b]2;T\x07\x1b[2K\rg1: all fine\x1b[8m",
       "/x\\e]2;T\\x07\\e[2K\\x0Dg1: all fine\\e[8m"},
      {"a double-byte name", "/\x95\x5c\x82\xa0", "/\xe8\xa1\xa8\xe3\x81\x82"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    dir_.write(gdir("g1.cf"), "Gatherer-Name: g1\nData-Directory: " + row.data_directory + "\n");
    lxt::RunOptions o;
    o.set("LC_ALL", "C");
    const lxt::RunResult r = run("lorvex-status", {"--brief"}, o);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("; warning: GATHERER_DATA " + dir_.file("data") + " and the Data-Directory " + row.shown +
                         " of g1.cf disagree"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
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
  dir_.write(gdir("last-cycle"), last_cycle_record(0, "told"));
  dir_.write("relative.ini", "KESTREL_HOME=home\nGATHERER_NAME=g1\nGATHERER_DATA=data\n");
  dir_.write(gdir("g1.cf"), "Gatherer-Name: g1\nData-Directory: " + dir_.file("data") + "\n");
  const std::string told = "g1: cycle idle; daemon free;[^\n]*; last \"status 0: told \\(20261209 18:10:00\\)\"\n";
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
