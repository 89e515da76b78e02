// File facilities on POSIX: Windows-style paths, permissions, text-mode
// reading, the held-open test and directory search.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdarg.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "port/dir_wildcard.h"
#include "port/file.h"
#include "port/held_open.h"
#include "port/posix/named_file.h"
#include "port/posix/syscalls.h"
#include "port/stream.h"
#include "port/text_reader.h"
#include "port_posix_test_support.h"

extern char** environ;

namespace {

using port_posix_test::backslashed;
using port_posix_test::read_file;
using port_posix_test::TempDir;
using port_posix_test::wait_until;
using port_posix_test::write_file;

class PortFile : public port_posix_test::SysCallsRestored {};

int open_out_of_descriptors(const char*, int, ...) {
  errno = EMFILE;
  return -1;
}

mode_t mode_of(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

TEST_F(PortFile, WindowsStylePathsReachTheFileSystem) {
  TempDir dir;
  const std::string base = backslashed(dir.path());
  ASSERT_EQ(::mkdir(dir.file("sub").c_str(), 0755), 0);
  write_file(dir.file("sub/a.txt"), "12345");

  port::FileInfo info;
  ASSERT_EQ(port::file_stat((base + "\\sub\\a.txt").c_str(), &info), 0);
  EXPECT_TRUE(info.is_regular);
  EXPECT_FALSE(info.is_directory);
  EXPECT_EQ(info.size, 5);
  EXPECT_TRUE(port::is_directory((base + "\\sub").c_str()));
  EXPECT_FALSE(port::is_directory((base + "\\sub\\a.txt").c_str()));
  EXPECT_TRUE(port::exists((base + "\\sub\\a.txt").c_str()));
  EXPECT_TRUE(port::is_readable((base + "\\sub\\a.txt").c_str()));
  EXPECT_FALSE(port::exists((base + "\\sub\\none").c_str()));
  EXPECT_EQ(port::file_stat((base + "\\sub\\none").c_str(), &info), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(port::file_stat((base + "\\sub\\a.txt\\x").c_str(), &info), -1);
  EXPECT_EQ(errno, ENOENT) << "a path through a plain file is missing, as on Windows";

  ASSERT_EQ(port::rename_file((base + "\\sub\\a.txt").c_str(), (base + "\\sub\\b.txt").c_str()), 0);
  std::FILE* file = port::open_file((base + "\\sub\\b.txt").c_str(), "r");
  ASSERT_NE(file, nullptr);
  std::fclose(file);
  ASSERT_EQ(port::remove_file((base + "\\sub\\b.txt").c_str()), 0);
  EXPECT_FALSE(port::exists(dir.file("sub/b.txt").c_str()));

  char* old_dir = getcwd(nullptr, 0);
  ASSERT_EQ(port::change_dir((base + "\\sub").c_str()), 0);
  char* now_dir = getcwd(nullptr, 0);
  EXPECT_EQ(std::filesystem::path(now_dir), std::filesystem::canonical(dir.file("sub")));
  EXPECT_EQ(chdir(old_dir), 0);
  free(now_dir);
  free(old_dir);
}

TEST_F(PortFile, MakeWritableAddsOnlyTheOwnerWriteBit) {
  TempDir dir;
  write_file(dir.file("ro"), "x");
  ASSERT_EQ(::chmod(dir.file("ro").c_str(), 0454), 0);
  ASSERT_EQ(port::make_writable(backslashed(dir.file("ro")).c_str()), 0);
  EXPECT_EQ(mode_of(dir.file("ro")), 0654u);
  EXPECT_EQ(port::make_writable(dir.file("missing").c_str()), -1);
  EXPECT_EQ(errno, ENOENT);
}

TEST_F(PortFile, CreateExclusiveRefusesAnExistingFile) {
  TempDir dir;
  const mode_t mask = ::umask(022);
  EXPECT_EQ(port::create_exclusive(backslashed(dir.file("lock")).c_str()), 0);
  EXPECT_EQ(mode_of(dir.file("lock")), 0644u);
  EXPECT_EQ(port::create_exclusive(dir.file("lock").c_str()), -1);
  EXPECT_EQ(errno, EEXIST);
  ::umask(mask);
}

TEST_F(PortFile, FailuresOfTheSystemCallsAreReported) {
  TempDir dir;
  write_file(dir.file("a"), "x");
  port::posix::sys().rename = [](const char*, const char*) {
    errno = EXDEV;
    return -1;
  };
  EXPECT_EQ(port::rename_file(dir.file("a").c_str(), dir.file("b").c_str()), -1);
  EXPECT_EQ(errno, EXDEV);
  port::posix::sys().chmod = [](const char*, mode_t) {
    errno = EPERM;
    return -1;
  };
  EXPECT_EQ(port::make_writable(dir.file("a").c_str()), -1);
  EXPECT_EQ(errno, EPERM);
  port::posix::sys().open = open_out_of_descriptors;
  EXPECT_EQ(port::create_exclusive(dir.file("c").c_str()), -1);
  EXPECT_EQ(errno, EMFILE);
}

TEST_F(PortFile, ReplaceFileTakesTheOldNameOrLeavesEverythingAsItWas) {
  TempDir dir;
  write_file(dir.file("new"), "new data");
  write_file(dir.file("old"), "old data");
  ::chmod(dir.file("old").c_str(), 0444);
  ASSERT_EQ(port::replace_file(backslashed(dir.file("new")).c_str(), backslashed(dir.file("old")).c_str()), 0);
  EXPECT_EQ(read_file(dir.file("old")), "new data");
  EXPECT_NE(::access(dir.file("new").c_str(), F_OK), 0);

  // No file to replace: the new one simply takes the name.
  write_file(dir.file("next"), "next");
  ASSERT_EQ(port::replace_file(dir.file("next").c_str(), dir.file("fresh").c_str()), 0);
  EXPECT_EQ(read_file(dir.file("fresh")), "next");

  // A missing source, or a failing rename, changes nothing.
  EXPECT_EQ(port::replace_file(dir.file("missing").c_str(), dir.file("old").c_str()), -1);
  EXPECT_EQ(errno, ENOENT);
  write_file(dir.file("new"), "newer");
  port::posix::sys().rename = [](const char*, const char*) {
    errno = EXDEV;
    return -1;
  };
  EXPECT_EQ(port::replace_file(dir.file("new").c_str(), dir.file("old").c_str()), -1);
  EXPECT_EQ(errno, EXDEV);
  EXPECT_EQ(read_file(dir.file("old")), "new data");
  EXPECT_EQ(read_file(dir.file("new")), "newer");
}

// What tells the caller that a file was made anew: another file in the
// name's place, or the same one written; never a file left alone.
TEST_F(PortFile, FileIdentityChangesWithTheFileInTheNamesPlaceOnly) {
  TempDir dir;
  write_file(dir.file("dump"), "old dump");
  port::FileIdentity first;
  port::FileIdentity again;
  ASSERT_EQ(port::file_identity(backslashed(dir.file("dump")).c_str(), &first), 0);
  ::chmod(dir.file("dump").c_str(), 0444);  // the mode is no part of it
  ASSERT_EQ(port::file_identity(dir.file("dump").c_str(), &again), 0);
  EXPECT_EQ(first, again);
  // The same bytes, put in its place by a rename.
  write_file(dir.file("made"), "old dump");
  ASSERT_EQ(port::replace_file(dir.file("made").c_str(), dir.file("dump").c_str()), 0);
  ASSERT_EQ(port::file_identity(dir.file("dump").c_str(), &again), 0);
  EXPECT_NE(first, again);
  EXPECT_EQ(port::file_identity(dir.file("missing").c_str(), &again), -1);
  EXPECT_EQ(errno, ENOENT);
}

// ---------------------------------------------------------------------------
// Text-mode reading

class TextReading : public ::testing::Test {
 protected:
  std::FILE* open_with(const std::string& content) {
    write_file(dir_.file("t"), content);
    file_ = std::fopen(dir_.file("t").c_str(), "rb");
    return file_;
  }
  void TearDown() override {
    if (file_) std::fclose(file_);
  }
  TempDir dir_;
  std::FILE* file_ = nullptr;
};

TEST_F(TextReading, OnlyACarriageReturnBeforeALineFeedIsDropped) {
  port::TextReader reader(open_with("a\r\nb\rc\r\r\nd\r"));
  std::string got;
  for (int c = reader.get(); c != EOF; c = reader.get()) got.push_back(static_cast<char>(c));
  EXPECT_EQ(got, "a\nb\rc\r\nd\r");
}

TEST_F(TextReading, GetLineKeepsTheLimitAndNeverSplitsCrLf) {
  port::TextReader reader(open_with("ab\r\ncd\nlast"));
  char buffer[3];
  std::vector<std::string> lines;
  while (reader.get_line(buffer, sizeof buffer) != nullptr) lines.push_back(buffer);
  // The CR after "ab" is still unread when the buffer is full; it must not
  // come out on its own.
  EXPECT_EQ(lines, (std::vector<std::string>{"ab", "\n", "cd", "\n", "la", "st"}));
}

TEST_F(TextReading, GetLineAsFgetsAtTheEdges) {
  port::TextReader reader(open_with("x\r\n"));
  char one[1] = {'z'};
  EXPECT_EQ(reader.get_line(one, 1), one);
  EXPECT_EQ(one[0], '\0');
  char buffer[16];
  EXPECT_EQ(reader.get_line(buffer, 0), nullptr);
  ASSERT_EQ(reader.get_line(buffer, sizeof buffer), buffer);
  EXPECT_STREQ(buffer, "x\n");
  EXPECT_EQ(reader.get_line(buffer, sizeof buffer), nullptr);
}

// ---------------------------------------------------------------------------
// Held open for writing

// A shell that holds the file with the given redirection ("3>>" to write,
// "3<" to read) until it is killed.
class Holder {
 public:
  Holder(const std::string& redirection, const std::string& file, const std::string& ready) {
    const std::string script = "exec " + redirection + "'" + file + "'; : > '" + ready + "'; exec sleep 30";
    const char* argv[] = {"/bin/sh", "-c", script.c_str(), nullptr};
    started_ = posix_spawn(&pid_, "/bin/sh", nullptr, nullptr, const_cast<char* const*>(argv), environ) == 0;
    ready_ = started_ && wait_until([&] { return ::access(ready.c_str(), F_OK) == 0; });
  }
  ~Holder() {
    if (!started_) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  bool ready() const { return ready_; }

 private:
  pid_t pid_ = 0;
  bool started_ = false;
  bool ready_ = false;
};

// Leases refused as on a file system without them: the /proc scan decides.
int fcntl_without_leases(int fd, int cmd, ...) {
  va_list args;
  va_start(args, cmd);
  const int arg = va_arg(args, int);
  va_end(args);
  if (cmd == F_SETLEASE) {
    errno = EINVAL;
    return -1;
  }
  return ::fcntl(fd, cmd, arg);
}

// Passes every call on and notes what the last lease request gave.
int lease_result = 0;
int fcntl_noting_leases(int fd, int cmd, ...) {
  va_list args;
  va_start(args, cmd);
  const int arg = va_arg(args, int);
  va_end(args);
  const int rc = ::fcntl(fd, cmd, arg);
  if (cmd == F_SETLEASE && arg == F_RDLCK) lease_result = rc == 0 ? 0 : errno;
  return rc;
}

int open_refused(const char*, int, ...) {
  errno = EACCES;
  return -1;
}

TEST_F(PortFile, MissingFileIsMissingNeverHeld) {
  TempDir dir;
  write_file(dir.file("plain"), "x");
  EXPECT_EQ(port::held_open_for_writing(dir.file("none").c_str()), port::HoldState::kMissing);
  EXPECT_EQ(port::held_open_for_writing(dir.file("plain/below").c_str()), port::HoldState::kMissing);
  port::posix::sys().open = open_refused;
  EXPECT_EQ(port::held_open_for_writing(dir.file("none").c_str()), port::HoldState::kMissing);
}

int opens_seen = 0;
int open_noting(const char* path, int flags, ...) {
  ++opens_seen;
  return ::open(path, flags);
}

// Opening a FIFO or a device can block or act on it: such a name is judged by
// its kind alone, and never opened.
TEST_F(PortFile, ANameThatIsNoPlainFileIsNeverOpened) {
  TempDir dir;
  ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0644), 0);
  ASSERT_EQ(::symlink("/dev/null", dir.file("null").c_str()), 0);
  write_file(dir.file("file"), "x");
  ASSERT_EQ(::symlink(dir.file("file").c_str(), dir.file("to-file").c_str()), 0);
  ASSERT_EQ(::mkdir(dir.file("dir").c_str(), 0755), 0);
  const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socket_path = dir.file("socket");
  ASSERT_LT(socket_path.size(), sizeof address.sun_path);
  std::copy(socket_path.begin(), socket_path.end(), address.sun_path);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const struct {
    const char* name;
    port::HoldState state;
    std::string why;
  } cases[] = {{"fifo", port::HoldState::kCannotTell, "it is a FIFO"},
               {"socket", port::HoldState::kCannotTell, "it is a socket"},
               {"dir", port::HoldState::kCannotTell, "it is a directory"},
               {"null", port::HoldState::kLink, "it is a symbolic link"},
               {"to-file", port::HoldState::kLink, "it is a symbolic link"},
               {"/dev/null", port::HoldState::kDevice, ""}};
  port::posix::sys().open = open_noting;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    opens_seen = 0;
    const char* why = "";
    const std::string path = c.name[0] == '/' ? std::string(c.name) : dir.file(c.name);
    EXPECT_EQ(port::held_open_for_writing(path.c_str(), &why), c.state);
    EXPECT_EQ(why, c.why);
    EXPECT_EQ(opens_seen, 0);
  }
  ::close(listener);
}

// The entry itself: a link is told as one and never followed, neither to be
// described nor to be read; only a regular file at the name is read.
TEST_F(PortFile, AnEntryIsToldAndReadWithoutFollowingALink) {
  TempDir dir;
  write_file(dir.file("plain"), "first\nsecond\n");
  ASSERT_EQ(::symlink(dir.file("plain").c_str(), dir.file("to-plain").c_str()), 0);
  ASSERT_EQ(::symlink(dir.file("none").c_str(), dir.file("dangling").c_str()), 0);
  ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0644), 0);
  ASSERT_EQ(::mkdir(dir.file("dir").c_str(), 0755), 0);
  const struct {
    const char* name;
    const char* kind;  // "regular", "link", "fifo", "directory", "device", "" (missing)
    int open_error;    // errno of open_entry, 0 when it opens
  } cases[] = {{"plain", "regular", 0},       {"to-plain", "link", EACCES}, {"dangling", "link", EACCES},
               {"fifo", "fifo", EACCES},      {"dir", "directory", EACCES}, {"none", "", ENOENT},
               {"plain\\x", "", ENOTDIR}};  // opened as open_file opens it
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.file(c.name);
    port::FileInfo info;
    const int stat_result = port::entry_stat(path.c_str(), &info);
    if (*c.kind == '\0') {
      EXPECT_EQ(stat_result, -1);
      EXPECT_EQ(errno, ENOENT);
    } else {
      ASSERT_EQ(stat_result, 0);
      const std::string kind = info.is_link ? "link" : info.is_fifo ? "fifo" : info.is_directory ? "directory"
                               : info.is_device ? "device" : info.is_regular ? "regular" : "?";
      EXPECT_EQ(kind, c.kind);
    }
    errno = 0;
    std::FILE* file = port::open_entry(path.c_str());
    EXPECT_EQ(file == nullptr ? errno : 0, c.open_error);
    if (file != nullptr) {
      char line[16] = {};
      EXPECT_NE(std::fgets(line, sizeof line, file), nullptr);
      EXPECT_STREQ(line, "first\n");
      std::fclose(file);
    }
  }
  // file_stat goes on telling what a link leads to.
  port::FileInfo followed;
  ASSERT_EQ(port::file_stat(dir.file("to-plain").c_str(), &followed), 0);
  EXPECT_TRUE(followed.is_regular);
  EXPECT_FALSE(followed.is_link);
}

TEST_F(PortFile, WriterInAnotherProcessHoldsTheFile) {
  TempDir dir;
  write_file(dir.file("exportd.log"), "");
  const std::string windows_path = backslashed(dir.file("exportd.log"));
  port::posix::sys().fcntl = fcntl_noting_leases;
  lease_result = -1;
  EXPECT_EQ(port::held_open_for_writing(windows_path.c_str()), port::HoldState::kFree);
  EXPECT_EQ(lease_result, 0);
  {
    Holder holder("3>>", dir.file("exportd.log"), dir.file("ready"));
    ASSERT_TRUE(holder.ready());
    port::posix::sys().fcntl = fcntl_noting_leases;
    lease_result = -1;
    EXPECT_EQ(port::held_open_for_writing(windows_path.c_str()), port::HoldState::kHeld);
    EXPECT_EQ(lease_result, EAGAIN);  // the lease itself answered here
    port::posix::sys().fcntl = fcntl_without_leases;
    EXPECT_EQ(port::held_open_for_writing(windows_path.c_str()), port::HoldState::kHeld);
    port::posix::sys().open = open_refused;
    EXPECT_EQ(port::held_open_for_writing(windows_path.c_str()), port::HoldState::kHeld);
    port::posix::reset_sys();
  }
  EXPECT_EQ(port::held_open_for_writing(windows_path.c_str()), port::HoldState::kFree);
  port::posix::sys().fcntl = fcntl_without_leases;
  EXPECT_EQ(port::held_open_for_writing(windows_path.c_str()), port::HoldState::kFree);
}

TEST_F(PortFile, ReaderInAnotherProcessDoesNotHoldTheFile) {
  TempDir dir;
  write_file(dir.file("exportd.log"), "");
  Holder holder("3<", dir.file("exportd.log"), dir.file("ready"));
  ASSERT_TRUE(holder.ready());
  EXPECT_EQ(port::held_open_for_writing(dir.file("exportd.log").c_str()), port::HoldState::kFree);
  port::posix::sys().fcntl = fcntl_without_leases;
  EXPECT_EQ(port::held_open_for_writing(dir.file("exportd.log").c_str()), port::HoldState::kFree);
}

// ---------------------------------------------------------------------------
// Directory search

std::vector<std::string> names_of(const std::string& pattern) {
  std::vector<port::DirEntry> entries;
  EXPECT_EQ(port::find_entries(pattern.c_str(), &entries), 0) << pattern;
  std::vector<std::string> names;
  for (const auto& entry : entries) names.push_back(entry.name + (entry.is_directory ? "/" : ""));
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(PortFile, FindEntriesMatchesTheLastPartOfThePattern) {
  TempDir dir;
  for (const char* name : {"gathering1", "gathering22.tmp", "Gathering3", "other", ".hidden"}) {
    write_file(dir.file(name), "");
  }
  ASSERT_EQ(::mkdir(dir.file("gatheringdir").c_str(), 0755), 0);
  const std::string base = backslashed(dir.path()) + "\\";

  // Letters match in either case, as on Windows.
  EXPECT_EQ(names_of(base + "gathering*"),
            (std::vector<std::string>{"Gathering3", "gathering1", "gathering22.tmp", "gatheringdir/"}));
  EXPECT_EQ(names_of(base + "gathering?"), (std::vector<std::string>{"Gathering3", "gathering1"}));
  EXPECT_EQ(names_of(base + "*.tmp"), (std::vector<std::string>{"gathering22.tmp"}));
  EXPECT_EQ(names_of(base + "g*2*"), (std::vector<std::string>{"gathering22.tmp"}));
  EXPECT_EQ(names_of(base + "*"), (std::vector<std::string>{".hidden", "Gathering3", "gathering1",
                                                            "gathering22.tmp", "gatheringdir/", "other"}));
  EXPECT_EQ(names_of(base + "*.*"), names_of(base + "*"));
  EXPECT_EQ(names_of(base + "other"), (std::vector<std::string>{"other"}));
  EXPECT_TRUE(names_of(base + "nothing*").empty());
  EXPECT_EQ(port::any_entry_matches((base + "gath*").c_str()), 1);
  EXPECT_EQ(port::any_entry_matches((base + "GATH*").c_str()), 1);
  EXPECT_EQ(names_of(base + "*."), (std::vector<std::string>{"Gathering3", "gathering1", "gatheringdir/", "other"}));

  std::vector<port::DirEntry> entries;
  EXPECT_EQ(port::find_entries((base + "missing\\*").c_str(), &entries), -1);
  EXPECT_EQ(port::any_entry_matches((base + "missing\\*").c_str()), -1);
}

TEST_F(PortFile, FindEntriesWithoutDirectoryAndWithDoubleByteNames) {
  TempDir dir;
  // A kanji whose second byte is 0x5C, then ASCII.
  const std::string kanji = "\x95\x5C";
  write_file(dir.file(kanji + "x"), "");
  write_file(dir.file("ab"), "");
  char* old_dir = getcwd(nullptr, 0);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  EXPECT_EQ(names_of(kanji + "*"), (std::vector<std::string>{kanji + "x"}));
  EXPECT_EQ(names_of("?x"), (std::vector<std::string>{kanji + "x"}));  // one character, two bytes
  EXPECT_EQ(names_of("?b"), (std::vector<std::string>{"ab"}));
  EXPECT_EQ(names_of("??x"), std::vector<std::string>{});
  EXPECT_EQ(chdir(old_dir), 0);
  free(old_dir);
}

}  // namespace

namespace {

// A file under another process's lease: the first non-blocking open of the
// name is refused, and a FIFO may be renamed into its place right then.
struct Leased {
  std::string name;
  std::string fifo;  // renamed over the name at the refusal; empty: none
  bool refused = false;
  bool blocking_open_of_the_name = false;
};
Leased leased;

int open_under_lease(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = (flags & O_CREAT) != 0 ? static_cast<mode_t>(va_arg(args, int)) : 0;
  va_end(args);
  if (leased.name == path && (flags & O_PATH) == 0) {
    if ((flags & O_NONBLOCK) == 0) {
      leased.blocking_open_of_the_name = true;  // what could wait for ever
      errno = EIO;
      return -1;
    }
    if (!leased.refused) {
      leased.refused = true;
      if (!leased.fifo.empty()) ::rename(leased.fifo.c_str(), path);
      errno = EWOULDBLOCK;
      return -1;
    }
  }
  return ::open(path, flags, mode);
}

}  // namespace

TEST_F(PortFile, ALeasedFileIsReopenedAsExaminedNeverByItsNameAgain) {
  TempDir dir;
  for (const bool swapped : {false, true}) {
    SCOPED_TRACE(swapped ? "a FIFO renamed into its place" : "the leased file");
    write_file(dir.file("settings"), "x=1\n");
    leased = Leased{dir.file("settings"), swapped ? dir.file("fifo") : "", false, false};
    if (swapped) {
      ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    }
    port::posix::sys().open = open_under_lease;
    const int fd = port::posix::open_named(leased.name, O_RDONLY | O_CLOEXEC);
    const int error = errno;
    port::posix::reset_sys();
    EXPECT_TRUE(leased.refused);
    EXPECT_FALSE(leased.blocking_open_of_the_name);
    if (swapped) {
      EXPECT_EQ(fd, -1);
      EXPECT_EQ(error, EACCES);
    } else {
      ASSERT_GE(fd, 0);
      char text[8] = {};
      EXPECT_EQ(::read(fd, text, sizeof text), 4);
      EXPECT_STREQ(text, "x=1\n");
      ::close(fd);
    }
    ::unlink(leased.name.c_str());
  }
}
