#pragma once
// The black-box test harness: runs the built programs natively or, for the
// Windows build, under Wine, with real files, real children and real
// registry data. The target is chosen at run time from the environment:
//   LXT_TARGET       "native" (default) or "wine"
//   LXT_BIN_DIR      the programs under test
//   LXT_TESTBIN_DIR  the test doubles (lxrecord, lxpeer, lxportdrive)
//   LXT_WINEPREFIX   the Wine prefix (wine only)
//   LXT_NATIVE_TESTBIN_DIR  the native doubles (the TCP peer)
// or from the file named by LXT_CONFIG, which holds the same as NAME=value lines.
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lxt {

// ---- target ------------------------------------------------------------

bool is_wine();
std::string bin_dir();
std::string testbin_dir();
// Path of a program of the system (".exe" added under Wine).
std::string program(const std::string& name);
// Path of a test double (".exe" added under Wine).
std::string double_path(const std::string& name);
// Path of the native build of a test double, whatever the target (the tests
// normally run the native TCP peer; programs under Wine reach it alike).
std::string native_double_path(const std::string& name);
// The file name a program has on the target: "name" or "name.exe".
std::string exe_name(const std::string& name);

// A POSIX path as the program under test sees it: "Z:\tmp\x" under Wine,
// unchanged natively.
std::string host_path(const std::string& posix_path);
// The separator the target's paths use ('\\' under Wine, '/' natively).
char host_sep();
// host_path(dir) + separator + name.
std::string host_join(const std::string& posix_dir, const std::string& name);
// A directory as a child reports its working directory: the real path
// natively (the temp directory may sit behind a symbolic link), the Wine path
// otherwise.
std::string host_dir(const std::string& posix_dir);
// The path with every "/" turned into "\".
std::string backslashed(std::string path);

// ---- running a program ------------------------------------------------------

struct EnvChange {
  std::string name;
  std::optional<std::string> value;  // nullopt: unset
};

struct RunOptions {
  std::string cwd;                         // empty: the test's own directory
  std::vector<EnvChange> env;              // applied on top of the test's environment
  std::optional<std::string> stdin_data;   // nullopt: the null device
  // The standard input pipe stays open after stdin_data until the program
  // ends, as a writer that has more to say would keep it.
  bool keep_stdin_open = false;
  std::vector<std::string> search_dirs;    // POSIX paths searched first for programs
  std::chrono::milliseconds timeout{120000};
  bool native = false;  // run natively even when the target is Wine (the native doubles)
  // The stream is a pipe whose reader has gone before the program starts:
  // every write to it fails (natively: SIGPIPE, or EPIPE when ignored).
  bool stdout_closed = false;
  bool stderr_closed = false;

  RunOptions& set(const std::string& name, const std::string& value) {
    env.push_back({name, value});
    return *this;
  }
  RunOptions& unset(const std::string& name) {
    env.push_back({name, std::nullopt});
    return *this;
  }
};

struct RunResult {
  int status = -1;          // exit status; 128+N for a native child killed by signal N
  std::string out, err;
  bool timed_out = false;   // killed when the time limit ran out
};

// Runs argv[0] (a POSIX path, normally from program() or double_path()) with
// the remaining arguments and waits for it. Under Wine runs "setarch -R wine argv0 ..." (a fixed address layout).
// Under Wine, arguments and environment values pass through the Unix
// character set (UTF-8) on their way in: only ASCII arrives unchanged, so
// Shift_JIS bytes must reach a program through a file.
RunResult run(const std::vector<std::string>& argv, const RunOptions& options = {});

// run(), with a carriage return before a line feed dropped in both streams,
// so that text a Windows program writes compares alike on both targets.
RunResult run_text(const std::vector<std::string>& argv, const RunOptions& options = {});

// A program started in the background (a TCP peer, a process to hold a file).
// Its output goes to the null device. Killed when destroyed while still
// running (natively with its process group).
class Background {
 public:
  Background(const std::vector<std::string>& argv, const RunOptions& options = {});
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;
  ~Background();
  bool started() const { return pid_ > 0; }
  // The process id of the started program (of Wine's process under Wine).
  int pid() const { return pid_; }
  // Waits up to the limit; the exit status, or nullopt when still running.
  std::optional<int> wait(std::chrono::milliseconds limit);
  void kill();
  // Sends the program alone a signal (natively).
  void signal(int number);

 private:
  int pid_ = -1;
  bool wine_ = false;
  std::optional<int> status_;
};

// Waits until the file exists and is not empty, at most the limit.
bool wait_for_file(const std::string& path,
                   std::chrono::milliseconds limit = std::chrono::milliseconds(30000));
// Waits until the predicate holds, at most the limit.
template <class Pred>
bool wait_until(Pred pred, std::chrono::milliseconds limit);

// ---- files -------------------------------------------------------------

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it.
class TempDir {
 public:
  TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  std::string host(const std::string& name = "") const;  // host_path of file(name)
  void write(const std::string& name, const std::string& bytes) const;
  std::string read(const std::string& name) const;  // "" when missing
  bool exists(const std::string& name) const;
  void mkdir(const std::string& name) const;

 private:
  std::string path_;
};

std::string read_file(const std::string& path);
// Text written by a Windows program in text mode has CR LF line ends: this
// drops a CR directly before an LF so that both targets compare alike.
std::string lf(const std::string& text);
void write_file(const std::string& path, const std::string& bytes);
// Text converted between two character sets (iconv names); throws when it
// does not convert.
std::string convert(const std::string& text, const char* to, const char* from);
// The text as a Windows editor saves it as Unicode, each with the name of its
// encoding: UTF-8 with a byte-order mark, UTF-16 little- and big-endian.
std::vector<std::pair<std::string, std::string>> saved_as_unicode(const std::string& text);

// Copies a test double into dir under another program name (for example
// lxrecord as "seedurls"), ".exe" added under Wine; returns the POSIX path.
std::string install_double(const std::string& double_name, const std::string& dir,
                           const std::string& as_name);

// A one-shot TCP peer on 127.0.0.1 (the lxpeer double): accepts one
// connection, keeps what the client sent, answers and ends.
class Peer {
 public:
  struct Options {
    std::optional<std::string> reply;  // nullopt: close without data
    std::string read = "once";         // "once", "nul" or "eof" (see lxpeer)
    bool target_build = false;         // the target's lxpeer (under Wine: the Windows one)
    std::string watch;                 // a POSIX path whose existence is noted when the request came
    bool hold = false;                 // never answers: keeps the connection until the client closes it
  };
  // A peer that reads the request up to its zero byte and answers reply.
  static Options answering(const std::string& reply);
  // A port on 127.0.0.1 where nothing listens: bound, noted and closed.
  static int closed_port();

  Peer() : Peer(Options{}) {}
  explicit Peer(const Options& options);
  int port() const { return port_; }  // 0 when it did not start
  // Waits for the peer to end (bounded); its exit status, nullopt if it did not end.
  std::optional<int> finish(std::chrono::milliseconds limit = std::chrono::milliseconds(30000));
  // Waits until the client's request has come (bounded).
  bool wait_request(std::chrono::milliseconds limit = std::chrono::milliseconds(30000)) const;
  // What the client sent (after finish()).
  std::string request() const;
  // With Options::watch: "present" or "absent" (after finish()).
  std::string watched() const;

 private:
  std::unique_ptr<TempDir> dir_;
  std::unique_ptr<Background> process_;
  int port_ = 0;
};

// ---- registry ----------------------------------------------------------

// A text as a quoted string of the registry file format. The trail byte of a
// double-byte character is part of the character, never escaped.
std::string reg_string(const std::string& text);
// A number as registry file data: "dword:0000abcd".
std::string reg_dword(int value);

// The system's own registry keys; a key left out is not written.
struct RegistryKeys {
  std::optional<std::string> path00;    // PathName's Path00: the installation directory as the programs see it
  std::optional<std::string> env_info;  // EnvInfo's value lines ("\"PerlPath\"=...\n" ...)
};
// The keys as the text of a registry file.
std::string registry_text(const RegistryKeys& keys);

// The per-machine registry the programs read. Natively a registry file named
// by LORVEX_REGISTRY, which write() sets in this test process so that later
// runs inherit it; under Wine the prefix's registry, where write() first
// deletes HKEY_LOCAL_MACHINE\SOFTWARE\VELMORA and then imports the text with
// regedit. Tests that use it carry a ctest resource lock under Wine.
class Registry {
 public:
  Registry();
  ~Registry();
  // reg_text: the registry editor's text format, first line included. Returns
  // false (with a test failure added) when the import fails. With utf16 the
  // file is what the registry editor exports: the Shift_JIS text in UTF-16LE
  // after a byte order mark.
  bool write(const std::string& reg_text, bool utf16 = false);
  bool write(const RegistryKeys& keys) { return write(registry_text(keys)); }

 private:
  TempDir dir_;
};

// ---- a test installation ------------------------------------------------------

// The catalogue the tests install: for each key the programs issue, a plain
// text whose ten-character identifier ("LXCM016-E") a page shows.
extern const char kTestCatalogue[];

// The system installed in a folder of a test's directory: the installation
// directory inst/ with its catalogue in inst/lib, the framework's tools in
// tools/ (recording doubles under the tools' names), and the registry that
// names the installation.
class Installation {
 public:
  // root: the folder of dir that holds inst/ and tools/ ("": dir itself).
  explicit Installation(const TempDir& dir, const std::string& root = "");
  // inst/ as the programs see it.
  std::string path() const;
  // tools/ (a POSIX path, for RunOptions::search_dirs), and a tool in it as the programs see it.
  std::string tools_dir() const;
  std::string tool(const std::string& name) const;
  // The EnvInfo value line of the search service's command port.
  static std::string command_port(int port);

  void write_catalogue(const std::string& text = kTestCatalogue) const;
  void install_tools(const std::vector<std::string>& names) const;
  // The registry naming inst/, with the EnvInfo value lines; false (with a
  // test failure) when it cannot be written.
  bool write_registry(const std::string& env_info = "") {
    return write_registry(RegistryKeys{.path00 = path(), .env_info = env_info});
  }
  // The registry with exactly these keys (RegistryKeys{}: none).
  bool write_registry(const RegistryKeys& keys) { return registry_.write(keys); }
  // The registry as this whole text in the registry editor's format (see Registry::write).
  bool write_registry_text(const std::string& reg_text, bool utf16 = false) { return registry_.write(reg_text, utf16); }

 private:
  std::string file(const std::string& name) const;

  const TempDir& dir_;
  std::string root_;
  Registry registry_;
};

// ---- the recording double's journal ------------------------------------------

// One start of lxrecord (or a copy of it under another name).
struct Record {
  std::string program;                // the name it ran as, without ".exe"
  std::string argv0;                  // argv[0] as received
  std::vector<std::string> args;      // argv[1..]
  std::string cwd;                    // current directory, as the target names it
  std::map<std::string, std::optional<std::string>> env;  // listed in ENV; nullopt: unset
  std::optional<std::string> stdin_data;  // with STDIN=read
  std::vector<std::string> files;         // with LIST=cwd: the current directory's names, sorted
  long pid = 0;
};

// Reads every record of a journal file (none when missing). A malformed
// journal adds a test failure.
std::vector<Record> read_journal(const std::string& path);
// The names the journal's records ran as, in the order they were written.
std::vector<std::string> journal_programs(const std::string& path);

// Environment changes that make lxrecord keep a journal in path (a POSIX
// path; converted for the target) and record the listed variables.
std::vector<EnvChange> journal_env(const std::string& path, const std::string& env_names = "");

// ---- template ---------------------------------------------------------------

void sleep_a_moment();  // one short step of a bounded wait

template <class Pred>
bool wait_until(Pred pred, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (pred()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    sleep_a_moment();
  }
}

}  // namespace lxt
