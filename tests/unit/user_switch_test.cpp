// Acting as another user: a child that has become nobody reports what it
// is; a switch that fails half-way leaves the process as it was.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "port/change_rule.h"
#include "port/user_switch.h"
#include "port_posix_test_support.h"

namespace {

using port_posix_test::TempDir;
using port_posix_test::write_file;

class UserSwitch : public port_posix_test::SysCallsRestored {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can act as another user";
    ASSERT_EQ(port::find_user("nobody", &nobody_), 0);
  }
  port::UserAccount nobody_;
};

std::string variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "(unset)";
}

std::vector<gid_t> groups() {
  std::vector<gid_t> list(static_cast<std::size_t>(::getgroups(0, nullptr)));
  ::getgroups(static_cast<int>(list.size()), list.data());
  return list;
}

TEST_F(UserSwitch, AChildActsAsTheUserAndTheCallerStaysItself) {
  port::UserAccount by_id;
  ASSERT_EQ(port::find_user(std::to_string(nobody_.uid).c_str(), &by_id), 0);
  EXPECT_EQ(by_id.name, "nobody");
  const std::string home_before = variable("HOME");
  std::string result, why;
  ASSERT_EQ(port::run_as_user(
                nobody_,
                [] {
                  const mode_t mask = ::umask(0);
                  uid_t r = 0, e = 0, s = 0;
                  ::getresuid(&r, &e, &s);
                  return std::to_string(r) + " " + std::to_string(e) + " " + std::to_string(s) + " " +
                         std::to_string(::getegid()) + " " + std::to_string(groups().size()) + " " +
                         std::to_string(mask) + " " + variable("HOME") + " " + variable("USER") + " " +
                         variable("LOGNAME") + " " + (::setuid(0) == 0 ? "root again" : "no way back");
                },
                &result, &why),
            0)
      << why;
  const std::string id = std::to_string(nobody_.uid);
  EXPECT_EQ(result, id + " " + id + " " + id + " " + std::to_string(nobody_.gid) + " 1 18 " + nobody_.home +
                        " nobody nobody no way back");
  EXPECT_EQ(::geteuid(), 0u);
  EXPECT_EQ(variable("HOME"), home_before);
}

TEST_F(UserSwitch, TheRuleJudgesForTheUserActedAs) {
  TempDir scratch;
  write_file(scratch.file("nobodys.ini"), "x=1\n");
  ASSERT_EQ(::chown(scratch.file("nobodys.ini").c_str(), nobody_.uid, nobody_.gid), 0);
  ASSERT_EQ(::chmod(scratch.path().c_str(), 0755), 0);
  const auto judge = [&] {
    port::PathVerdict verdict;
    if (port::judge_path(scratch.file("nobodys.ini").c_str(), &verdict) != 0) return std::string("cannot tell");
    return verdict.exposure == port::Exposure::kNone ? std::string("passes") : "fails at " + verdict.entry;
  };
  std::string result, why;
  ASSERT_EQ(port::run_as_user(nobody_, judge, &result, &why), 0) << why;
  EXPECT_EQ(result, "passes");
  EXPECT_EQ(judge(), "fails at " + scratch.file("nobodys.ini"));
}

TEST_F(UserSwitch, AFailureLeavesTheProcessAsItWas) {
  const std::vector<gid_t> groups_before = groups();
  const std::string home_before = variable("HOME");
  const mode_t mask_before = ::umask(0);
  ::umask(mask_before);
  // Each part fails in turn, after the parts before it took effect.
  for (int failing = 0; failing < 3; ++failing) {
    SCOPED_TRACE(failing);
    port::posix::reset_sys();
    auto& calls = port::posix::sys();
    if (failing == 0) calls.initgroups = [](const char*, gid_t) { return errno = EPERM, -1; };
    if (failing == 1) calls.setresgid = [](gid_t, gid_t, gid_t) { return errno = EPERM, -1; };
    if (failing == 2) calls.setresuid = [](uid_t, uid_t, uid_t) { return errno = EAGAIN, -1; };
    std::string why;
    EXPECT_EQ(port::become_user(nobody_, &why), -1);
    EXPECT_FALSE(why.empty());
    uid_t r = 1, e = 1, s = 1;
    gid_t gr = 1, ge = 1, gs = 1;
    ::getresuid(&r, &e, &s);
    ::getresgid(&gr, &ge, &gs);
    EXPECT_EQ(r + e + s + gr + ge + gs, 0u);
    EXPECT_EQ(groups(), groups_before);
    EXPECT_EQ(variable("HOME"), home_before);
    const mode_t mask = ::umask(mask_before);
    EXPECT_EQ(mask, mask_before);
  }
}

TEST_F(UserSwitch, AChildThatCannotSwitchSaysWhy) {
  port::posix::sys().setresuid = [](uid_t, uid_t, uid_t) { return errno = EAGAIN, -1; };
  std::string result, why;
  EXPECT_EQ(port::run_as_user(nobody_, [] { return std::string("worked"); }, &result, &why), -1);
  EXPECT_NE(why.find("the user id " + std::to_string(nobody_.uid) + " cannot be taken"), std::string::npos) << why;
  EXPECT_TRUE(result.empty());
  port::UserAccount none;
  EXPECT_EQ(port::find_user("no-such-user-of-lorvex", &none), -1);
  EXPECT_EQ(errno, ENOENT);
}

}  // namespace
