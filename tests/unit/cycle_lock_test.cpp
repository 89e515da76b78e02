// The cycle lock: a file created exclusively in the installation directory.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

#include "admin/cyclerun/notify.h"
#include "port/posix/syscalls.h"

namespace {

class CycleLock : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/lxlockXXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    dir_ = templ;
    ASSERT_EQ(mkdir((dir_ + "/lib").c_str(), 0755), 0);
    write(dir_ + "/lib/lorvex.msg",
          "LXC_MSG_016\nLXCM016-E:held\nLXC_MSG_021\nLXCM021-E:create %s (%d)\nLXC_MSG_022\nLXCM022-E:remove %s (%d)\n");
    // Written with backslashes as on Windows; the lock path has only forward slashes.
    std::string install = dir_;
    for (char& c : install) c = c == '/' ? '\\' : c;
    std::string escaped;
    for (char c : install) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    write(dir_ + "/registry.reg", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMORA\\Moxa3R\\0201/A\\PathName]\n"
                                  "\"Path00\"=\"" + escaped + "\"\n");
    setenv("LORVEX_REGISTRY", (dir_ + "/registry.reg").c_str(), 1);
    lock_ = dir_ + "/.lxQ71K58R03lock";
  }
  void TearDown() override {
    port::posix::reset_sys();
    unsetenv("LORVEX_REGISTRY");
    std::remove(lock_.c_str());
    std::remove((dir_ + "/lib/lorvex.msg").c_str());
    std::remove((dir_ + "/registry.reg").c_str());
    rmdir((dir_ + "/lib").c_str());
    rmdir(dir_.c_str());
  }
  static void write(const std::string& path, const std::string& text) { std::ofstream(path) << text; }
  bool lock_exists() const { return access(lock_.c_str(), F_OK) == 0; }

  std::string dir_, lock_;
};

int fail_open(const char*, int, ...) {
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
  write(lock_, "someone else's");
  testing::internal::CaptureStdout();
  EXPECT_EQ(lock_cycle(), -1);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.find("Content-Type: text/html\n\n<!-- LXCM016-E -->\n"), 0u) << out;
  std::ifstream in(lock_);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "someone else's");
}

TEST_F(CycleLock, CreationAndRemovalFailuresCarryPathAndErrno) {
  port::posix::sys().open = fail_open;
  testing::internal::CaptureStdout();
  EXPECT_EQ(lock_cycle(), -2);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.find("Content-Type: text/html\n\n<!-- LXCM021-E " + lock_ + ",13 -->\n"), 0u) << out;
  port::posix::reset_sys();

  write(lock_, "");
  port::posix::sys().unlink = fail_unlink;
  testing::internal::CaptureStdout();
  EXPECT_EQ(unlock_cycle(), -1);
  out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.find("Content-Type: text/html\n\n<!-- LXCM022-E " + lock_ + "," + std::to_string(EBUSY) + " -->\n"), 0u)
      << out;
}

TEST_F(CycleLock, NoInstallationNoLock) {
  write(dir_ + "/registry.reg", "REGEDIT4\n");
  testing::internal::CaptureStdout();
  EXPECT_EQ(lock_cycle(), -1);
  EXPECT_EQ(unlock_cycle(), -1);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.find("Content-Type: text/html\n\n<!-- QTRM109-E HKEY_LOCAL_MACHINE,"), 0u) << out;
  EXPECT_FALSE(lock_exists());
}

}  // namespace
