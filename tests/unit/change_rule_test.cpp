// Whether another user can change a path: trees owned by or writable for
// other users and groups, judged as root (the test runs as root; the other
// users are numeric ids that need no password entry).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "port/change_rule.h"
#include "port_posix_test_support.h"

namespace {

using port::Exposure;
using port_posix_test::TempDir;
using port_posix_test::write_file;

// An id no password entry names, and the group every system has for nobody.
constexpr uid_t kStranger = 4242;
constexpr gid_t kNogroup = 65534;

void make_dir(const std::string& path, mode_t mode, uid_t owner = 0, gid_t group = 0) {
  ASSERT_EQ(::mkdir(path.c_str(), 0700), 0) << path;
  ASSERT_EQ(::chown(path.c_str(), owner, group), 0);
  ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

void make_file(const std::string& path, mode_t mode, uid_t owner = 0, gid_t group = 0) {
  write_file(path, "KESTREL_HOME=/srv/k\n");
  ASSERT_EQ(::chown(path.c_str(), owner, group), 0);
  ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

struct Row {
  const char* what;
  std::function<void(const std::string& top)> make;  // builds the tree under top (root's, 0755)
  const char* path;                                   // judged, below top
  Exposure exposure;
  const char* entry;  // the failing entry below top ("" for none)
  bool missing;
};

// The trees, each made under a top directory of root's (0755). The rows count
// on root's group being root's own: no member, nobody else's primary group (as
// on every Debian system).
const Row kTreeRows[] = {
    {"root's file in root's tree", [](auto& t) { make_file(t + "/f", 0644); }, "f", Exposure::kNone, "", false},
    {"another user's file", [](auto& t) { make_file(t + "/f", 0644, kStranger); }, "f", Exposure::kOwner, "f", false},
    {"root's file in another user's directory",
     [](auto& t) {
       make_dir(t + "/d", 0755, kStranger);
       make_file(t + "/d/f", 0644);
     },
     "d/f", Exposure::kOwner, "d", false},
    {"a file writable for a shared group", [](auto& t) { make_file(t + "/f", 0664, 0, kNogroup); }, "f",
     Exposure::kGroupWritable, "f", false},
    {"a file writable for its owner's private group", [](auto& t) { make_file(t + "/f", 0664, 0, 0); }, "f",
     Exposure::kNone, "", false},
    {"a file writable for every user", [](auto& t) { make_file(t + "/f", 0646); }, "f", Exposure::kOthersWritable,
     "f", false},
    {"a directory writable for a shared group",
     [](auto& t) {
       make_dir(t + "/d", 02775, 0, kNogroup);
       make_file(t + "/d/f", 0644);
     },
     "d/f", Exposure::kGroupWritable, "d", false},
    {"a sticky directory for every user, root's file in it",
     [](auto& t) {
       make_dir(t + "/d", 01777);
       make_file(t + "/d/f", 0644);
     },
     "d/f", Exposure::kNone, "", false},
    {"a sticky directory for every user, another user's file in it",
     [](auto& t) {
       make_dir(t + "/d", 01777);
       make_file(t + "/d/f", 0644, kStranger);
     },
     "d/f", Exposure::kOthersWritable, "d", false},
    {"a link to a file in another user's directory",
     [](auto& t) {
       make_dir(t + "/d", 0755, kStranger);
       make_file(t + "/d/f", 0644);
       ASSERT_EQ(::symlink((t + "/d/f").c_str(), (t + "/link").c_str()), 0);
     },
     "link", Exposure::kOwner, "d", false},
    {"a link in another user's directory to root's file",
     [](auto& t) {
       make_file(t + "/f", 0644);
       make_dir(t + "/d", 0755, kStranger);
       ASSERT_EQ(::symlink("../f", (t + "/d/link").c_str()), 0);
     },
     "d/link", Exposure::kOwner, "d", false},
    {"\"..\" after a link goes up from where the link leads",
     [](auto& t) {
       make_dir(t + "/d", 0755, kStranger);
       make_dir(t + "/d/sub", 0755);
       ASSERT_EQ(::symlink("d/sub", (t + "/link").c_str()), 0);
       make_file(t + "/f", 0644);
     },
     "link/../f", Exposure::kOwner, "d", false},
    {"a missing file in root's directory", [](auto&) {}, "none/f", Exposure::kNone, "", true},
    {"a missing file in a directory every user may write", [](auto& t) { make_dir(t + "/d", 0777); }, "d/f",
     Exposure::kOthersWritable, "d", true},
};

class ChangeRule : public port_posix_test::SysCallsRestored {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "the trees of other users are made as root";
  }
};

TEST_F(ChangeRule, TreesOfOtherUsersAndGroups) {
  for (const Row& row : kTreeRows) {
    SCOPED_TRACE(row.what);
    TempDir scratch;
    const std::string top = scratch.file("top");
    make_dir(top, 0755);
    row.make(top);
    port::PathVerdict verdict;
    ASSERT_EQ(port::judge_path((top + "/" + row.path).c_str(), &verdict), 0) << std::strerror(errno);
    EXPECT_EQ(verdict.exposure, row.exposure);
    EXPECT_EQ(verdict.missing, row.missing);
    if (row.exposure != Exposure::kNone) {
      EXPECT_EQ(verdict.entry, top + "/" + row.entry);
      struct stat st {};
      ASSERT_EQ(::lstat(verdict.entry.c_str(), &st), 0);
      EXPECT_EQ(verdict.owner, st.st_uid);
      EXPECT_EQ(verdict.mode, st.st_mode & 07777);
    }
  }
}

TEST_F(ChangeRule, RelativePathsAreJudgedFromTheCurrentDirectoryUp) {
  TempDir scratch;
  make_dir(scratch.file("d"), 0755, kStranger);
  make_dir(scratch.file("d/sub"), 0755);
  const std::string saved = std::filesystem::current_path();
  ASSERT_EQ(::chdir(scratch.file("d/sub").c_str()), 0);
  port::PathVerdict verdict;
  const int judged = port::judge_path(".\\f", &verdict);
  ASSERT_EQ(::chdir(saved.c_str()), 0);
  ASSERT_EQ(judged, 0);
  EXPECT_EQ(verdict.exposure, Exposure::kOwner);
  EXPECT_EQ(verdict.entry, scratch.file("d"));
}

TEST_F(ChangeRule, InstructionsAreReadOnlyFromFilesNobodyElseCanChange) {
  TempDir scratch;
  make_file(scratch.file("good.ini"), 0644);
  make_file(scratch.file("shared.ini"), 0664, 0, kNogroup);
  ASSERT_EQ(::symlink("good.ini", scratch.file("link.ini").c_str()), 0);
  ASSERT_EQ(::mkfifo(scratch.file("fifo.ini").c_str(), 0644), 0);
  make_dir(scratch.file("dir.ini"), 0755);

  port::PathVerdict verdict;
  for (const char* readable : {"good.ini", "link.ini"}) {
    std::FILE* file = port::open_instructions(scratch.file(readable).c_str(), "r", &verdict);
    ASSERT_NE(file, nullptr) << readable;
    char line[64] = {};
    EXPECT_NE(std::fgets(line, sizeof line, file), nullptr);
    EXPECT_STREQ(line, "KESTREL_HOME=/srv/k\n");
    std::fclose(file);
  }
  errno = 0;
  EXPECT_EQ(port::open_instructions(scratch.file("shared.ini").c_str(), "r", &verdict), nullptr);
  EXPECT_EQ(errno, EPERM);
  EXPECT_EQ(verdict.exposure, Exposure::kGroupWritable);
  EXPECT_EQ(verdict.entry, scratch.file("shared.ini"));
  EXPECT_EQ(verdict.mode, 0664u);
  // No wait for a writer, nothing but a file, and a missing file is missing.
  for (const auto& [name, error] : {std::pair{"fifo.ini", EACCES}, {"dir.ini", EACCES}, {"none.ini", ENOENT}}) {
    errno = 0;
    EXPECT_EQ(port::open_instructions(scratch.file(name).c_str(), "r", &verdict), nullptr) << name;
    EXPECT_EQ(errno, error) << name;
    EXPECT_EQ(verdict.exposure, Exposure::kNone) << name;
  }
}

TEST_F(ChangeRule, AnEntryThatCannotBeLookedAtCannotBeJudged) {
  TempDir scratch;
  make_file(scratch.file("f"), 0644);
  port::posix::sys().lstat = [](const char*, struct stat*) {
    errno = EIO;
    return -1;
  };
  port::PathVerdict verdict;
  errno = 0;
  EXPECT_EQ(port::judge_path(scratch.file("f").c_str(), &verdict), -1);
  EXPECT_EQ(errno, EIO);
}

}  // namespace
