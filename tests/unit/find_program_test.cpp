// Finding a program's file: paths, the search order, the ".exe" ending.
#include "port/posix/find_program.h"
#include "tests/unit/port_posix_test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace {

namespace fs = std::filesystem;
using port::posix::find_program;

class FindProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    old_cwd_ = fs::current_path();
    if (const char* path = std::getenv("PATH")) {
      old_path_ = path;
    }
    root_ = fs::temp_directory_path() /
            ("lorvex_search_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "cwd");
    fs::create_directories(root_ / "p1");
    fs::create_directories(root_ / "p2");
    fs::current_path(root_ / "cwd");
  }
  void TearDown() override {
    fs::current_path(old_cwd_);
    if (old_path_) {
      setenv("PATH", old_path_->c_str(), 1);
    } else {
      unsetenv("PATH");
    }
    fs::remove_all(root_);
  }
  // A file in the scenario's tree, executable or not.
  std::string make(const std::string& relative, bool executable) {
    const fs::path file = root_ / relative;
    std::ofstream(file) << "#!/bin/sh\n";
    fs::permissions(file, executable ? fs::perms(0755) : fs::perms(0644));
    return file.string();
  }
  void set_path(const std::string& value) { setenv("PATH", value.c_str(), 1); }
  std::string dir(const std::string& name) const { return (root_ / name).string(); }

  fs::path root_;
  fs::path old_cwd_;
  std::optional<std::string> old_path_;
};

TEST_F(FindProgram, PathWordsAreUsedAsTheyStand) {
  const std::string tool = make("p1/tool", true);
  std::string found;
  EXPECT_EQ(find_program(tool, &found), 0);
  EXPECT_EQ(found, tool);

  // Windows separators reach the file system as "/".
  const std::string windows = port_posix_test::backslashed(tool);
  found.clear();
  EXPECT_EQ(find_program(windows, &found), 0);
  EXPECT_EQ(found, tool);

  // "tool.exe" names the POSIX program "tool".
  EXPECT_EQ(find_program(tool + ".EXE", &found), 0);
  EXPECT_EQ(found, tool);

  // A relative path comes back absolute: a child may start in another
  // working directory.
  EXPECT_EQ(find_program("../p1/tool", &found), 0);
  EXPECT_EQ(found, (root_ / "cwd" / "../p1/tool").string());
  set_path("../p1");
  EXPECT_EQ(find_program("tool", &found), 0);
  EXPECT_EQ(found, (root_ / "cwd" / "../p1/tool").string());

  // A path never falls back to the search directories.
  make("cwd/tool", true);
  EXPECT_EQ(find_program(dir("p2") + "/tool", &found), ENOENT);
}

TEST_F(FindProgram, PathWordsThatCannotRun) {
  std::string found = "untouched";
  EXPECT_EQ(find_program(make("p1/data", false), &found), EACCES);
  EXPECT_EQ(find_program(dir("p2"), &found), EACCES);
  EXPECT_EQ(find_program(dir("p2") + "/missing", &found), ENOENT);
  EXPECT_EQ(found, "untouched");
}

TEST_F(FindProgram, CurrentDirectoryComesBeforePath) {
  set_path(dir("p1"));
  make("p1/tool", true);
  const std::string here = make("cwd/tool", true);
  std::string found;
  ASSERT_EQ(find_program("tool", &found), 0);
  EXPECT_EQ(fs::canonical(found), fs::canonical(here));
}

// A program that another user could have put where it is found is passed
// over, and the search goes on: in the current directory and in every PATH
// entry, however the entry names the directory (".", "./", empty, relative
// to where the search runs, absolute).
TEST_F(FindProgram, AProgramAnotherUserCouldHavePlantedIsPassedOver) {
  const std::string safe = make("p2/tool", true);
  const std::string planted = make("cwd/tool", true);
  const std::string cwd = dir("cwd");
  struct Exposure {
    const char* what;
    uid_t file_owner;
    uid_t dir_owner;
    gid_t dir_group;
    mode_t dir_mode;
    mode_t file_mode;
    bool passed_over;
  };
  const uid_t self = ::geteuid();
  const gid_t own_group = ::getegid();
  const uid_t other = self == 0 ? 65534 : self;  // without root, no file can be given away
  const gid_t shared = self == 0 ? 65534 : own_group;
  const Exposure exposures[] = {
      {"own file, own directory", self, self, own_group, 0755, 0755, false},
      {"directory writable for others", self, self, own_group, 0777, 0755, true},
      {"directory writable for a shared group", self, self, shared, 0775, 0755, self == 0},
      {"directory writable for root's own group", self, self, 0, 0775, 0755, self != 0},
      {"file writable for others", self, self, own_group, 0755, 0757, true},
      {"file of another user", other, self, own_group, 0755, 0755, self == 0},
      {"directory of another user", self, other, own_group, 0755, 0755, self == 0},
  };
  struct Naming {
    const char* what;
    const char* search_from;  // below the scenario's root
    std::string path;
  };
  const Naming namings[] = {
      {"the current directory", "cwd", dir("p2")},
      {"\".\"", "cwd", ".:" + dir("p2")},
      {"\"./\"", "cwd", "./:" + dir("p2")},
      {"an empty entry", "cwd", ":" + dir("p2")},
      {"a relative entry", "", "cwd:" + dir("p2")},
      {"an absolute entry", "", cwd + ":" + dir("p2")},
  };
  for (const Exposure& e : exposures) {
    ASSERT_EQ(::chown(planted.c_str(), e.file_owner, static_cast<gid_t>(-1)), 0) << e.what;
    ASSERT_EQ(::chown(cwd.c_str(), e.dir_owner, e.dir_group), 0) << e.what;
    ASSERT_EQ(::chmod(cwd.c_str(), e.dir_mode), 0);
    ASSERT_EQ(::chmod(planted.c_str(), e.file_mode), 0);
    for (const Naming& n : namings) {
      fs::current_path(root_ / n.search_from);
      set_path(n.path);
      std::string found;
      ASSERT_EQ(find_program("tool", &found), 0) << e.what << ", " << n.what;
      EXPECT_EQ(fs::canonical(found), fs::canonical(e.passed_over ? safe : planted)) << e.what << ", " << n.what;
    }
  }
  ::chown(cwd.c_str(), self, own_group);
  ::chmod(cwd.c_str(), 0755);
}

TEST_F(FindProgram, PathEntriesInOrderSkippingWhatCannotRun) {
  set_path(dir("p1") + ":" + dir("p2"));
  make("p1/tool", false);            // not executable: passed over
  fs::create_directory(root_ / "p1/tool2");  // a directory of that name: passed over
  const std::string second = make("p2/tool", true);
  const std::string second2 = make("p2/tool2", true);
  std::string found;
  ASSERT_EQ(find_program("tool", &found), 0);
  EXPECT_EQ(found, second);
  ASSERT_EQ(find_program("tool2", &found), 0);
  EXPECT_EQ(found, second2);
}

TEST_F(FindProgram, ExeEndingIsDroppedPerDirectoryAfterTheNameAsGiven) {
  set_path(dir("p1") + ":" + dir("p2"));
  const std::string plain = make("p1/packer", true);
  std::string found;
  ASSERT_EQ(find_program("packer.Exe", &found), 0);
  EXPECT_EQ(found, plain);
  // Within one directory the name as given wins over the shortened one.
  const std::string exact = make("p1/packer.exe", true);
  ASSERT_EQ(find_program("packer.exe", &found), 0);
  EXPECT_EQ(found, exact);
  // ".exe" alone is a name, not an ending.
  EXPECT_EQ(find_program(".exe", &found), ENOENT);
}

TEST_F(FindProgram, NothingFound) {
  set_path(dir("p1") + "::" + dir("p2"));
  std::string found = "untouched";
  EXPECT_EQ(find_program("no-such-program-here", &found), ENOENT);
  EXPECT_EQ(find_program("", &found), ENOENT);
  unsetenv("PATH");
  EXPECT_EQ(find_program("no-such-program-here", &found), ENOENT);
  EXPECT_EQ(found, "untouched");
}

TEST_F(FindProgram, OwnDirectoryComesFirst) {
  const fs::path self = fs::read_symlink("/proc/self/exe");
  EXPECT_EQ(port::posix::own_program_dir(), self.parent_path().string());
  // A program of the same name in the current directory does not hide it.
  make("cwd/" + self.filename().string(), true);
  set_path(dir("p1"));
  std::string found;
  ASSERT_EQ(find_program(self.filename().string(), &found), 0);
  EXPECT_EQ(fs::canonical(found), fs::canonical(self));
}

}  // namespace
