// The port layer seen from outside, on the target: lxportdrive calls each
// facility and the recording child, the TCP peer and real files show what
// happened. The same cases run natively and against the Windows build under
// Wine, so both implementations must agree.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tests/programs/program_test.h"
#include "tests/tools/bytes_text.h"

namespace {

using lxt_bytes::hex;

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Runs lxportdrive with the subcommands. The interpreter "cmd" (native) lives
// with the programs and lxrecord with the doubles: both on the search path.
lxt::RunResult drive(const std::vector<std::string>& subcommands, lxt::RunOptions options = {}) {
  std::vector<std::string> argv{lxt::double_path("lxportdrive")};
  argv.insert(argv.end(), subcommands.begin(), subcommands.end());
  if (!lxt::is_wine()) options.search_dirs.push_back(lxt::bin_dir());
  options.search_dirs.push_back(lxt::testbin_dir());
  lxt::RunResult r = lxt::run(argv, options);
  EXPECT_FALSE(r.timed_out) << "lxportdrive timed out";
  EXPECT_EQ(r.err, "") << "stderr of lxportdrive";
  return r;
}

using lxt::host_dir;

class PortTest : public lxt::ProgramTest {
 protected:
  lxt::RunOptions recording(const std::string& env_names = "") const {
    lxt::RunOptions o;
    o.env = lxt::journal_env(journal_path(), env_names);
    return o;
  }
};

// ---- starting a child from one command line ----------------------------------

TEST_F(PortTest, CommandLineIsSplitByTheRuntimeRules) {
  // Quotes group, 2n+1 backslashes before a quote give a literal quote, other
  // backslashes are literal, "" is an empty argument, and the trail byte 0x5C
  // of a double-byte character does not escape the closing quote.
  const std::string table = "\x95\x5C";
  const std::string line = "lxrecord \"a b\" c\\\"d e\\\\f \"\" x\"y z\" \"" + table + "\" \"q\\\\\" r";
  dir_.write("line", line);
  auto r = drive({"run", "@file=" + dir_.host("line")}, recording());
  EXPECT_EQ(r.out, "status=0\n");
  auto records = journal();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].program, "lxrecord");
  EXPECT_EQ(records[0].args,
            (std::vector<std::string>{"a b", "c\"d", "e\\\\f", "", "xy z", table, "q\\", "r"}));
}

// Both of a child's streams reach the caller apart, whole, while it runs: a
// child that writes more than a pipe holds to one stream still ends.
TEST_F(PortTest, ARelayedChildsStreamsComeApartAndWhole) {
  auto o = recording();
  // More than a pipe holds, copied from the standard input the child inherits.
  const std::string much(200000, 'x');
  o.stdin_data = much + "end";
  o.set("LXT_STDIN", "copy").set("LXT_HOLD", dir_.host("missing/file")).set("LXT_EXIT", "3");
  auto r = drive({"relay", "lxrecord"}, o);
  const std::string expected_out = "out=" + much + "end\n";
  EXPECT_TRUE(r.out.compare(0, expected_out.size(), expected_out) == 0)
      << "standard output not whole: " << r.out.size() << " bytes, from " << r.out.substr(0, 40);
  const std::string rest = r.out.size() > expected_out.size() ? r.out.substr(expected_out.size()) : "";
  EXPECT_TRUE(std::regex_search(rest, std::regex("^err=lxrecord: cannot hold [^\\n]*file(\\\\r)?\\\\n\\nstatus=3\\n$")))
      << rest.substr(0, 200);
  EXPECT_EQ(journal().size(), 1u);
  auto missing = drive({"relay", "lxnosuchprogram"});
  EXPECT_TRUE(std::regex_search(missing.out, std::regex("^out=\\nerr=\\nstart_error=[1-9][0-9]*\\n$"))) << missing.out;
}

TEST_F(PortTest, ChildInheritsDirectoryAndEnvironmentChanges) {
  dir_.mkdir("work");
  auto o = recording("LXTEST_SET,LXTEST_REMOVED,LXTEST_NEVER");
  o.cwd = dir_.file("work");
  o.set("LXTEST_REMOVED", "before");
  o.unset("LXTEST_NEVER");
  // Putting "NAME=" removes the variable; the child sees both changes.
  auto r = drive({"putenv", "LXTEST_SET=value with blanks", "putenv", "LXTEST_REMOVED=", "putenv", "LXTEST_NOEQUALS",
                  "run", "lxrecord"}, o);
  EXPECT_EQ(r.out, "putenv_error\nstatus=0\n");
  auto records = journal();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].cwd, host_dir(dir_.file("work")));
  EXPECT_EQ(records[0].env["LXTEST_SET"], std::optional<std::string>("value with blanks"));
  EXPECT_EQ(records[0].env["LXTEST_REMOVED"], std::nullopt);
  EXPECT_EQ(records[0].env["LXTEST_NEVER"], std::nullopt);
}

TEST_F(PortTest, WorkingDirectoryOptionAndChdir) {
  dir_.mkdir("a");
  dir_.mkdir("b");
  auto o = recording();
  o.cwd = dir_.path();
  auto r = drive({"run-in", dir_.host("a"), "lxrecord one", "chdir", dir_.host("b"), "run", "lxrecord two"}, o);
  EXPECT_EQ(r.out, "status=0\nstatus=0\n");
  auto records = journal();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].cwd, host_dir(dir_.file("a")));
  EXPECT_EQ(records[1].cwd, host_dir(dir_.file("b")));
}

TEST_F(PortTest, ExitStatusesComeBack) {
  auto r = drive({"putenv", "LXT_EXIT=0", "run", "lxrecord", "putenv", "LXT_EXIT=3", "run", "lxrecord",
                  "putenv", "LXT_EXIT=255", "run", "lxrecord"});
  EXPECT_EQ(r.out, "status=0\nstatus=3\nstatus=255\n");
}

TEST_F(PortTest, MissingProgramIsAStartFailureWithFileNotFound) {
  // ENOENT natively and ERROR_FILE_NOT_FOUND on Windows are both 2.
  auto r = drive({"run", "lxt-no-such-program arg", "run", lxt::host_join(dir_.path(), "missing.exe")});
  EXPECT_EQ(r.out, "start_error=2\nstart_error=2\n");
}

TEST_F(PortTest, ChildOutputGoesToTheInheritedStreams) {
  auto o = recording();
  o.set("LXT_PRINT", "from the child\n");
  auto r = drive({"run", "lxrecord"}, o);
  EXPECT_EQ(lxt::lf(r.out), "from the child\nstatus=0\n");
}

TEST_F(PortTest, ChildSharesTheCallersGroupWithInterruptsIgnored) {
  if (lxt::is_wine()) GTEST_SKIP() << "Windows console process groups cannot be seen from outside under Wine";
  lxt::RunOptions o;
  o.set("LXT_PIDFILE", dir_.file("pid"));
  o.set("LXT_SLEEP_MS", "60000");
  o.search_dirs.push_back(lxt::testbin_dir());
  lxt::Background driver({lxt::double_path("lxportdrive"), "run", "lxrecord"}, o);
  ASSERT_TRUE(lxt::wait_for_file(dir_.file("pid")));
  const long pid = std::strtol(dir_.read("pid").c_str(), nullptr, 10);
  ASSERT_GT(pid, 1);
  // The fifth field of /proc/PID/stat is the process group, the fourth the
  // parent (the name before them is in parentheses and holds no ")").
  auto stat_of = [](long id, long* parent, long* group) {
    const std::string stat = lxt::read_file("/proc/" + std::to_string(id) + "/stat");
    const size_t paren = stat.rfind(')');
    char state = 0;
    return paren != std::string::npos && std::sscanf(stat.c_str() + paren + 1, " %c %ld %ld", &state, parent, group) == 3;
  };
  long parent = 0, group = 0, parent_group = 0, unused = 0;
  ASSERT_TRUE(stat_of(pid, &parent, &group));
  ASSERT_TRUE(stat_of(parent, &unused, &parent_group));
  // A group of its own would be a background group, stopped when it reads
  // the terminal; instead it ignores the interrupt meant for its caller.
  EXPECT_EQ(group, parent_group);
  const std::string status = lxt::read_file("/proc/" + std::to_string(pid) + "/status");
  const size_t at = status.find("SigIgn:\t");
  ASSERT_NE(at, std::string::npos);
  const unsigned long long ignored = std::stoull(status.substr(at + 8, 16), nullptr, 16);
  EXPECT_TRUE((ignored >> (SIGINT - 1)) & 1U);
  EXPECT_FALSE((ignored >> (SIGPIPE - 1)) & 1U) << "the caller ignores SIGPIPE, its child must not";
  ::kill(static_cast<pid_t>(pid), SIGKILL);
  EXPECT_EQ(driver.wait(30s), std::optional<int>(0));
}

// ---- detached daemon ----------------------------------------------------------

TEST_F(PortTest, DaemonThatEndsInTimeGivesItsStatusAndNoOutput) {
  auto o = recording();
  o.set("LXT_EXIT", "7");
  o.set("LXT_PRINT", "daemon output");
  auto r = drive({"daemon", "10000", "lxrecord d"}, o);
  // Natively its standard streams are the null device: nothing reaches ours.
  // Windows gives a daemon started without handle settings whatever standard
  // handles the system chooses (Wine: the caller's), so there only the status counts.
  if (lxt::is_wine()) EXPECT_EQ(r.out.substr(r.out.find("status=")), "status=7\n");
  else EXPECT_EQ(r.out, "status=7\n");
  ASSERT_EQ(journal().size(), 1u);
}

TEST_F(PortTest, DaemonStillRunningGives259AndCanBeEnded) {
  dir_.write("log", "");
  auto o = recording();
  o.set("LXT_SLEEP_MS", "60000");
  o.set("LXT_PIDFILE", dir_.host("pid"));
  o.set("LXT_HOLD", dir_.host("log"));
  auto r = drive({"daemon", "200", "lxrecord"}, o);
  EXPECT_EQ(r.out, "status=259\n");
  EXPECT_EQ(drive({"daemon", "200", "lxt-no-such-daemon -d x"}).out, "start_error=2\n");
  ASSERT_TRUE(lxt::wait_for_file(dir_.file("pid")));
  const std::string pid = dir_.read("pid");
  // The daemon outlives its starter and still holds its log.
  EXPECT_EQ(drive({"held", dir_.host("log")}).out, "held\n");
  EXPECT_EQ(drive({"kill", pid}).out, "rc=0\n");
  EXPECT_TRUE(lxt::wait_until([&] { return drive({"held", dir_.host("log")}).out == "free\n"; }, 20s))
      << "the killed daemon still holds its log";
}

TEST_F(PortTest, ChildInheritsOpenFilesAndTheDaemonDoesNot) {
  dir_.write("log", "");
  lxt::RunOptions o;
  o.set("LXT_SLEEP_MS", "60000");
  o.set("LXT_PIDFILE", dir_.host("daemon.pid"));
  o.search_dirs.push_back(lxt::testbin_dir());
  // The daemon starts with nothing of its starter's open: once the starter
  // has ended, nobody holds the file.
  EXPECT_EQ(drive({"open-write", dir_.host("log"), "daemon", "200", "lxrecord"}, o).out, "status=259\n");
  ASSERT_TRUE(lxt::wait_for_file(dir_.file("daemon.pid")));
  EXPECT_EQ(drive({"held", dir_.host("log")}).out, "free\n");
  EXPECT_EQ(drive({"kill", dir_.read("daemon.pid")}).out, "rc=0\n");

  // A child of run inherits the open file and holds it after its parent is gone.
  o.set("LXT_PIDFILE", dir_.host("child.pid"));
  lxt::Background parent({lxt::double_path("lxportdrive"), "open-write", dir_.host("log"), "run", "lxrecord"}, o);
  ASSERT_TRUE(lxt::wait_for_file(dir_.file("child.pid")));
  if (lxt::is_wine()) {
    parent.kill();
  } else {
    // The child shares its parent's process group, which Background::kill
    // would end whole: only the parent goes.
    const std::string stat = lxt::read_file("/proc/" + dir_.read("child.pid") + "/stat");
    long parent_pid = 0;
    char state = 0;
    ASSERT_EQ(std::sscanf(stat.c_str() + stat.rfind(')') + 1, " %c %ld", &state, &parent_pid), 2);
    ASSERT_GT(parent_pid, 1);
    ::kill(static_cast<pid_t>(parent_pid), SIGKILL);
    ASSERT_TRUE(parent.wait(30s).has_value());
  }
  EXPECT_EQ(drive({"held", dir_.host("log")}).out, "held\n");
  EXPECT_EQ(drive({"kill", dir_.read("child.pid")}).out, "rc=0\n");
  EXPECT_TRUE(lxt::wait_until([&] { return drive({"held", dir_.host("log")}).out == "free\n"; }, 20s));
}

TEST_F(PortTest, KillRefusesIdsThatAreNotOneProcess) {
  // Natively 0 would reach the caller's process group and 1 is init.
  auto r = drive({"kill", "0", "kill", "1", "pid"});
  ASSERT_EQ(r.out.substr(0, 10), "rc=1\nrc=1\n");
  EXPECT_EQ(r.status, 0);
}

// ---- the command interpreter --------------------------------------------------

TEST_F(PortTest, ShellRunsAPipelineThroughTheInterpreter) {
  const std::string bytes = "first line\r\nsecond\n\x95\x5C end";
  dir_.write("input", bytes);
  auto o = recording();
  o.cwd = dir_.path();
  o.set("LXT_STDIN", "read");
  o.set("LXT_EXIT", "4");
  // Through system() and, as the cycle runs its pipeline, as one command line.
  auto r = drive({"shell", "type input | lxrecord piped", "run", "cmd.exe /C type input | lxrecord run"}, o);
  // The line's status is the last command's.
  EXPECT_EQ(r.out, "status=4\nstatus=4\n");
  auto records = journal();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].args, std::vector<std::string>{"piped"});
  EXPECT_EQ(records[1].args, std::vector<std::string>{"run"});
  for (const auto& rec : records) {
    ASSERT_TRUE(rec.stdin_data.has_value());
    EXPECT_EQ(hex(*rec.stdin_data), hex(bytes));
  }
}

TEST_F(PortTest, ShellRedirectionWritesInTheCurrentDirectory) {
  auto o = recording();
  o.cwd = dir_.path();
  o.set("LXT_PRINT", "redirected");
  auto r = drive({"shell", "lxrecord > out.txt"}, o);
  EXPECT_EQ(r.out, "status=0\n");
  EXPECT_EQ(dir_.read("out.txt"), "redirected");
}

// ---- held open for writing ----------------------------------------------------

TEST_F(PortTest, HeldOpenFollowsTheHoldingProcess) {
  dir_.write("log.gatherer", "x");
  EXPECT_EQ(drive({"held", dir_.host("log.gatherer")}).out, "free\n");
  EXPECT_EQ(drive({"held", dir_.host("no-such-log")}).out, "missing\n");
  // A missing directory is a missing file too, never a held one, on POSIX.
  // (Windows reports a missing path, not a missing file: the test cannot
  // tell there; Wine says "file".)
  if (!lxt::is_wine()) {
    EXPECT_EQ(drive({"held", lxt::host_join(dir_.file("no-such-dir"), "log.gatherer")}).out, "missing\n");
  }

  lxt::RunOptions o;
  o.set("LXT_HOLD", dir_.host("log.gatherer"));
  o.set("LXT_PIDFILE", dir_.host("pid"));
  o.set("LXT_SLEEP_MS", "60000");
  {
    lxt::Background holder({lxt::double_path("lxrecord")}, o);
    ASSERT_TRUE(holder.started());
    ASSERT_TRUE(lxt::wait_for_file(dir_.file("pid")));
    EXPECT_EQ(drive({"held", dir_.host("log.gatherer")}).out, "held\n");
    holder.kill();
  }
  EXPECT_TRUE(lxt::wait_until([&] { return drive({"held", dir_.host("log.gatherer")}).out == "free\n"; }, 20s));
}

// ---- directory search ---------------------------------------------------------

TEST_F(PortTest, FindMatchesFilesAndDirectoriesByPrefix) {
  dir_.write("gathering.1", "");
  dir_.mkdir("gathering-dir");
  dir_.write("other", "");
  lxt::RunOptions o;
  o.cwd = dir_.path();
  auto r = drive({"find", "./gathering*", "find", "./none*", "find", "./missing-dir/gathering*"}, o);
  EXPECT_EQ(r.out,
            "d gathering-dir\nf gathering.1\ncount=2\nany=1\n"
            "count=0\nany=0\n"
            "find_error\n");
}

TEST_F(PortTest, FindWithWindowsSeparatorsAndQuestionMark) {
  dir_.mkdir("sub");
  dir_.write("sub/ab1", "");
  dir_.write("sub/ab22", "");
  auto r = drive({"find", lxt::host_join(dir_.file("sub"), "ab?")});
  EXPECT_EQ(r.out, "f ab1\ncount=1\nany=1\n");
  lxt::RunOptions o;
  o.cwd = dir_.path();
  EXPECT_EQ(drive({"find", "sub\\ab*"}, o).out, "f ab1\nf ab22\ncount=2\nany=1\n");
}

// ---- registry -----------------------------------------------------------------

const char kKey[] = "SOFTWARE\\VELMORA\\Moxa3R\\0201/A";

TEST_F(PortTest, RegistryValuesEnumerateWithTypesAndSizes) {
  // Names in alphabetical order: Wine keeps a key's values sorted by name.
  ASSERT_TRUE(install_.write_registry_text(
      "REGEDIT4\n\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMORA\\Moxa3R\\0201/A]\n"
      "\"A_Path\"=\"C:\\\\Lorvex\\\\\\\"q\\\"\"\n"
      "\"B_Empty\"=\"\"\n"
      "\"C_Zero\"=hex:\n"
      "\"D_Port\"=dword:00001f90\n"
      "\"E_Bin\"=hex:01,02,ff\n"));
  auto r = drive({"regenum", kKey});
  EXPECT_EQ(r.out,
            "value name=A_Path type=1 size=14 data=" + hex(std::string("C:\\Lorvex\\\"q\"\0", 14)) + "\n"
            "value name=B_Empty type=1 size=1 data=00\n"
            "value name=C_Zero type=3 size=0 data=\n"
            "value name=D_Port type=4 size=4 data=901f0000\n"
            "value name=E_Bin type=3 size=3 data=0102ff\n"
            "end=259 at=5\n");
  // Key and value names are matched without regard to letter case.
  EXPECT_EQ(drive({"regquery", "software\\velmora\\MOXA3R\\0201/a", "d_port"}).out,
            "rc=0 type=4 size=4 data=901f0000\n");
  EXPECT_EQ(drive({"regenum", "SOFTWARE\\VELMORA\\Moxa3R\\0201/B"}).out, "open=2\n");
}

TEST_F(PortTest, RegistryDataOrNameTooLongStopsTheEnumeration) {
  ASSERT_TRUE(install_.write_registry_text(
      "REGEDIT4\n\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMORA\\Moxa3R\\0201/A]\n"
      "\"A\"=\"abc\"\n"
      "\"B\"=\"longer value\"\n"
      "\"C\"=\"x\"\n"
      "\"DLongName\"=\"y\"\n"));
  // Four bytes hold "abc" and its zero; "longer value" does not fit.
  EXPECT_EQ(drive({"regenum", "--data-size", "4", kKey}).out,
            "value name=A type=1 size=4 data=61626300\nend=234 at=1\n");
  // A name buffer of 4 characters (terminator included) holds "C" but not "DLongName".
  EXPECT_EQ(drive({"regenum", "--name-size", "4", kKey}).out,
            "value name=A type=1 size=4 data=61626300\n"
            "value name=B type=1 size=13 data=" + hex(std::string("longer value\0", 13)) + "\n"
            "value name=C type=1 size=2 data=7800\n"
            "end=234 at=3\n");
}

TEST_F(PortTest, RegistryShiftJisTextKeepsItsBytes) {
  // The second byte of the kanji is 0x5C, the code of a backslash: it must
  // not escape the closing quote.
  ASSERT_TRUE(install_.write_registry_text(
      "REGEDIT4\n\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMORA\\Moxa3R\\0201/A]\n"
      "\"Path00\"=\"C:\\\\\x95\x5C\"\n"
      "\"Next\"=\"n\"\n"));
  EXPECT_EQ(drive({"regquery", kKey, "Path00"}).out, "rc=0 type=1 size=6 data=433a5c955c00\n");
  EXPECT_EQ(drive({"regquery", kKey, "Next"}).out, "rc=0 type=1 size=2 data=6e00\n");
}

TEST_F(PortTest, RegistryEditorsUtf16ExportReadsAsItsShiftJisText) {
  ASSERT_TRUE(install_.write_registry_text(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMORA\\Moxa3R\\0201/A]\r\n"
      "\"Path00\"=\"C:\\\\\x95\x5C\"\r\n",
      true));
  EXPECT_EQ(drive({"regquery", kKey, "Path00"}).out, "rc=0 type=1 size=6 data=433a5c955c00\n");
}

TEST_F(PortTest, RegistryFileThatCannotBeReadOrDecodedIsAccessDenied) {
  if (lxt::is_wine()) GTEST_SKIP() << "the registry file is the POSIX store; Wine's registry is always readable";
  // A character without a Shift_JIS form, and a directory in the file's place.
  dir_.write("bad.reg", std::string("\xFF\xFE" "R\0E\0\xE9\0", 8));
  dir_.mkdir("dir.reg");
  for (const char* name : {"bad.reg", "dir.reg"}) {
    lxt::RunOptions o;
    o.set("LORVEX_REGISTRY", dir_.file(name));
    EXPECT_EQ(drive({"regenum", kKey}, o).out, "open=5\n") << name;
  }
}

TEST_F(PortTest, RegistryFileValuesEnumerateInFileOrder) {
  if (lxt::is_wine()) GTEST_SKIP() << "Wine keeps a key's values sorted by name";
  ASSERT_TRUE(install_.write_registry_text(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMORA\\Moxa3R\\0201/A]\r\n"
      "\"Zeta\"=\"1\"\r\n"
      "\"Alpha\"=\"2\"\r\n"));
  EXPECT_EQ(drive({"regenum", kKey}).out,
            "value name=Zeta type=1 size=2 data=3100\nvalue name=Alpha type=1 size=2 data=3200\nend=259 at=2\n");
}

// ---- event log ----------------------------------------------------------------

TEST_F(PortTest, EventReportIsOneLineOfTheEventFile) {
  if (lxt::is_wine()) {
    EXPECT_EQ(drive({"event", "Moxa3R", "1", "0xC0000010", "one"}).out, "rc=0\n");
    GTEST_SKIP() << "Wine's event log keeps nothing a test can read";
  }
  lxt::RunOptions o;
  o.set("LORVEX_EVENTLOG", dir_.file("events"));
  EXPECT_EQ(drive({"event", "Moxa3R", "1", "0xC0000010", "one", "two words"}, o).out, "rc=0\n");
  EXPECT_EQ(drive({"event", "Moxa3R", "4", "7"}, o).out, "rc=0\n");
  EXPECT_EQ(dir_.read("events"),
            "Moxa3R\tERROR\t0xC0000010\tone\ttwo words\n"
            "Moxa3R\tINFORMATION\t0x00000007\n");
  o.env.clear();
  o.set("LORVEX_EVENTLOG", dir_.file("no-such-dir/events"));
  EXPECT_EQ(drive({"event", "Moxa3R", "2", "1", "x"}, o).out, "rc=-1\n");
}

// ---- TCP ----------------------------------------------------------------------

TEST_F(PortTest, TcpExchangeSendsOnceAndReceivesOnce) {
  lxt::Peer::Options po;
  po.reply = "12345";
  lxt::Peer peer(po);
  ASSERT_NE(peer.port(), 0);
  auto r = drive({"tcp", std::to_string(peer.port()), "ZIVIDUZ gatherer1"});
  EXPECT_EQ(r.out, "step=0 error=0 received=5 reply=" + hex("12345") + "\n");
  EXPECT_EQ(peer.finish(), 0);
  EXPECT_EQ(peer.request(), "ZIVIDUZ gatherer1");
}

TEST_F(PortTest, TcpRequestWithItsZeroAndAReplyLongerThanTheBuffer) {
  lxt::Peer::Options po;
  po.reply = "LXSCOMMANDERR";
  po.read = "nul";
  lxt::Peer peer(po);
  ASSERT_NE(peer.port(), 0);
  auto r = drive({"tcp", "--nul", "--reply-size", "4", std::to_string(peer.port()), "ZIVIDUZ x"});
  EXPECT_EQ(r.out, "step=0 error=0 received=4 reply=" + hex("LXSC") + "\n");
  EXPECT_EQ(peer.finish(), 0);
  EXPECT_EQ(peer.request(), std::string("ZIVIDUZ x\0", 10));
}

TEST_F(PortTest, TcpPeerClosingWithoutDataGivesZeroBytes) {
  lxt::Peer peer;
  ASSERT_NE(peer.port(), 0);
  auto r = drive({"tcp", std::to_string(peer.port()), "ZIVIDUZ g"});
  EXPECT_EQ(r.out.substr(0, 25), "step=0 error=0 received=0");
  EXPECT_EQ(peer.finish(), 0);
}

TEST_F(PortTest, TcpNothingListeningIsConnectionRefused) {
  const int port = lxt::Peer::closed_port();
  ASSERT_NE(port, 0);
  auto r = drive({"tcp", std::to_string(port), "ZIVIDUZ g"});
  // kConnect is step 4.
  EXPECT_EQ(r.out, "step=4 error=10061 received=0 reply=\n");
}

TEST_F(PortTest, WindowsPeerUnderWine) {
  if (!lxt::is_wine()) GTEST_SKIP() << "the Windows build of the peer runs under Wine only";
  lxt::Peer::Options po;
  po.reply = "42";
  po.target_build = true;
  lxt::Peer peer(po);
  ASSERT_NE(peer.port(), 0);
  EXPECT_EQ(drive({"tcp", std::to_string(peer.port()), "ZIVIDUZ w"}).out,
            "step=0 error=0 received=2 reply=" + hex("42") + "\n");
  EXPECT_EQ(peer.finish(), 0);
  EXPECT_EQ(peer.request(), "ZIVIDUZ w");
}

// ---- text and code page -------------------------------------------------------

TEST_F(PortTest, JapaneseLiteralsAreCodePage932AndLeadBytesAreShiftJis) {
  auto r = drive({"sjis", "leadbytes"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "sjis=ok\n81-9F E0-FC\n");
}

TEST_F(PortTest, TextReadingDropsOnlyACarriageReturnBeforeALineFeed) {
  dir_.write("t", "a\r\nb\rc\r\n\r\n\x95\x5C\r\nlast\r");
  EXPECT_EQ(drive({"textread", dir_.host("t")}).out,
            "line=a\\n\nline=b\\rc\\n\nline=\\n\nline=\\x95\\\\\\n\nline=last\\r\neof\n");
  EXPECT_EQ(drive({"textgetc", dir_.host("t")}).out, "chars=a\\nb\\rc\\n\\n\\x95\\\\\\nlast\\r\n");
}

TEST_F(PortTest, TextLinesLongerThanTheBufferComeInPieces) {
  // The line feed after a full piece comes alone; its CR never shows.
  dir_.write("t", "ab\r\ncdefg\r\n");
  EXPECT_EQ(drive({"textread", "--line-size", "3", dir_.host("t")}).out,
            "line=ab\nline=\\n\nline=cd\nline=ef\nline=g\\n\neof\n");
}

TEST_F(PortTest, TextReadingKeepsEveryOtherByte) {
  // Control-Z is an end of file only to old text-mode readers; nothing but
  // the CR of a CR LF may be changed.
  dir_.write("t", std::string("x\x1Ay\0z\n", 6));
  EXPECT_EQ(drive({"textgetc", dir_.host("t")}).out, "chars=x\\x1Ay\\x00z\\n\n");
}

}  // namespace
