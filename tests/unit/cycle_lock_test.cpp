// The cycle lock: a file created exclusively in the installation directory.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "admin/cyclerun/cycle_lock.h"
#include "tests/unit/port_posix_test_support.h"

namespace {

using port_posix_test::backslashed;
using port_posix_test::read_file;
using port_posix_test::write_file;

class CycleLock : public port_posix_test::SysCallsRestored {
 protected:
  void SetUp() override {
    ASSERT_EQ(mkdir(dir_.file("lib").c_str(), 0755), 0);
    write_file(dir_.file("lib/lorvex.msg"),
               "LXC_MSG_016\nLXCM016-E:held\nLXC_MSG_021\nLXCM021-E:create %s (%d)\nLXC_MSG_022\nLXCM022-E:remove %s (%d)\n");
    // Written with backslashes as on Windows; the lock path has only forward slashes.
    std::string escaped;
    for (char c : backslashed(dir_.path())) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    write_file(dir_.file("registry.reg"), "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMORA\\Moxa3R\\0201/A\\PathName]\n"
                                          "\"Path00\"=\"" + escaped + "\"\n");
    setenv("LORVEX_REGISTRY", dir_.file("registry.reg").c_str(), 1);
  }
  // The lock a test left goes with it: the run's own lock is kept by the
  // program for its whole life, and the tests share one program.
  void TearDown() override {
    SysCallsRestored::TearDown();
    if (lock_exists()) {
      testing::internal::CaptureStdout();
      EXPECT_EQ(unlock_cycle(), 0);
      testing::internal::GetCapturedStdout();
    }
    unsetenv("LORVEX_REGISTRY");
  }
  bool lock_exists() const { return access(lock_.c_str(), F_OK) == 0; }

  port_posix_test::TempDir dir_;
  const std::string lock_ = dir_.file(".lxQ71K58R03lock");
};

// Only the creation of the lock fails: the registry and the catalogue are read as usual.
int fail_open(const char* path, int flags, ...) {
  if ((flags & O_EXCL) == 0) return ::open(path, flags);
  errno = EACCES;
  return -1;
}
int fail_unlink(const char*) {
  errno = EBUSY;
  return -1;
}

TEST_F(CycleLock, TakeReleaseTakeAgain) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(lock_cycle(), 0);
  EXPECT_TRUE(lock_exists());
  EXPECT_EQ(unlock_cycle(), 0);
  EXPECT_FALSE(lock_exists());
  EXPECT_EQ(unlock_cycle(), 0);  // releasing a free lock is no error
  EXPECT_EQ(lock_cycle(), 0);
  EXPECT_TRUE(lock_exists());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(CycleLock, HeldLockIsReportedAndLeftAlone) {
  write_file(lock_, "someone else's");
  testing::internal::CaptureStdout();
  EXPECT_EQ(lock_cycle(), -1);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.find("Content-Type: text/html\n\n<!-- LXCM016-E -->\n"), 0u) << out;
  EXPECT_EQ(read_file(lock_), "someone else's");
}

TEST_F(CycleLock, CreationAndRemovalFailuresCarryPathAndErrno) {
  port::posix::sys().open = fail_open;
  testing::internal::CaptureStdout();
  EXPECT_EQ(lock_cycle(), -2);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.find("Content-Type: text/html\n\n<!-- LXCM021-E " + lock_ + ",13 -->\n"), 0u) << out;
  port::posix::reset_sys();

  write_file(lock_, "");
  port::posix::sys().unlink = fail_unlink;
  testing::internal::CaptureStdout();
  EXPECT_EQ(unlock_cycle(), -1);
  out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.find("Content-Type: text/html\n\n<!-- LXCM022-E " + lock_ + "," + std::to_string(EBUSY) + " -->\n"), 0u)
      << out;
}

// A lock that someone removed while the cycle told the service is released
// all the same, without a word; a removal that says "no such file" while the
// file is still there (as the Windows runtime says of a name too long) is a
// failed release, never a free lock.
TEST_F(CycleLock, AFailedRemovalOfTheRunsOwnLockIsNoRelease) {
  testing::internal::CaptureStdout();
  ASSERT_EQ(lock_cycle(), 0);
  ASSERT_EQ(std::remove(lock_.c_str()), 0);
  EXPECT_EQ(unlock_cycle(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

  testing::internal::CaptureStdout();
  ASSERT_EQ(lock_cycle(), 0);
  port::posix::sys().unlink = [](const char*) {
    errno = ENOENT;
    return -1;
  };
  EXPECT_EQ(unlock_cycle(), -1);
  port::posix::reset_sys();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.find("Content-Type: text/html\n\n<!-- LXCM022-E " + lock_ + "," + std::to_string(ENOENT) + " -->\n"),
            0u)
      << out;
  EXPECT_TRUE(lock_exists());
  EXPECT_EQ(unlock_cycle(), 0);  // a removal that works is the release
  EXPECT_FALSE(lock_exists());
}

TEST_F(CycleLock, NoInstallationNoLock) {
  write_file(dir_.file("registry.reg"), "REGEDIT4\n");
  testing::internal::CaptureStdout();
  EXPECT_EQ(lock_cycle(), -1);
  EXPECT_EQ(unlock_cycle(), -1);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.find("Content-Type: text/html\n\n<!-- QTRM109-E HKEY_LOCAL_MACHINE,"), 0u) << out;
  EXPECT_FALSE(lock_exists());
}

}  // namespace
