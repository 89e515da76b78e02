// Run by root, the service's commands act as the owner of the tree they work
// on: lorvex-cycle becomes the service user over that user's tree and runs
// nothing over any other user's; lorvex-status looks at a tree that root
// does not own as its owner. Root and POSIX only. Where the machine has no
// service user, the test makes one as the package does and removes it after.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/programs/gatherers_fixture.h"
#include "tests/programs/program_test.h"

namespace {

using lxt::literal;
using lxt::matches;

constexpr uid_t kStranger = 4242;  // a user no password entry names

class ServiceUser : public lxt::Gatherers {
 protected:
  void SetUp() override {
    if (lxt::is_wine()) GTEST_SKIP() << "Windows has no switch of users";
    if (::geteuid() != 0) GTEST_SKIP() << "only root acts as another user";
    if (::getpwnam("lorvex") == nullptr) {
      ASSERT_EQ(std::system("useradd --system --user-group --home-dir /var/lib/lorvex --no-create-home "
                            "--shell /usr/sbin/nologin lorvex"),
                0);
      made_user_ = true;
    }
    const passwd* service = ::getpwnam("lorvex");
    ASSERT_NE(service, nullptr);
    service_uid_ = service->pw_uid;
    service_gid_ = service->pw_gid;
    service_home_ = service->pw_dir;
    ::chmod(dir_.path().c_str(), 0755);
    Gatherers::SetUp();
  }

  void TearDown() override {
    if (made_user_) {
      EXPECT_EQ(std::system("userdel lorvex"), 0);
    }
  }

  // The gatherer directory and what is in it made the user's.
  void give_tree(uid_t uid, gid_t gid) const {
    for (const std::string& path : {dir_.file(gdir()), dir_.file(gdir("g1.cf"))}) {
      ASSERT_EQ(::chown(path.c_str(), uid, gid), 0);
    }
  }

  // A run whose recording double, run as whoever the command became,
  // records who that was.
  lxt::RunResult run_recorded(const std::string& program, const std::vector<std::string>& args) const {
    lxt::RunOptions o;
    o.set("LORVEX_EVENTLOG", dir_.file("events")).set("LORVEX_GATHERERS", dir_.file("layout"));
    lxt::write_file(journal_path(), "");
    EXPECT_EQ(::chown(journal_path().c_str(), service_uid_, service_gid_), 0);
    return run_program(program, args, o, "USER,HOME,LOGNAME");
  }

  bool made_user_ = false;
  uid_t service_uid_ = 0;
  gid_t service_gid_ = 0;
  std::string service_home_;
};

uid_t owner(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_uid : static_cast<uid_t>(-1);
}

// Over the service user's tree, the cycle started by hand is the unit's:
// the launcher and its script run as the service user, with its home, and
// what the cycle writes is that user's. Over a tree of a user with no
// account, nothing runs and nothing is written.
TEST_F(ServiceUser, TheCycleCommandRunByRootIsTheTreeOwnersCycle) {
  give_tree(service_uid_, service_gid_);
  lxt::RunResult r = run_recorded("lorvex-cycle", {dir_.file("layout/g1.ini")});
  EXPECT_EQ(r.status, 1) << r.err;  // the double leaves no record of a cycle
  const std::vector<lxt::Record> started = journal();
  ASSERT_EQ(started.size(), 1u) << r.err;
  EXPECT_EQ(started[0].env.at("USER"), "lorvex");
  EXPECT_EQ(started[0].env.at("LOGNAME"), "lorvex");
  EXPECT_EQ(started[0].env.at("HOME"), service_home_);
  for (const char* written : {"last-cycle", "cycle-began"}) {
    EXPECT_EQ(owner(dir_.file(gdir(written))), service_uid_) << written;
  }

  for (const char* written : {"last-cycle", "cycle-began", "lorvex-cycle.lock", "Gatherer.pid", "log.gatherer"}) {
    ::unlink(dir_.file(gdir(written)).c_str());
  }
  give_tree(kStranger, kStranger);
  r = run_recorded("lorvex-cycle", {dir_.file("layout/g1.ini")});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(matches(r.err, "^" + lxt::diagnostic_prefix("lorvex-cycle") + "ERROR: The gatherer directory " +
                                 literal(dir_.file(gdir())) + " is not used: " + literal(dir_.file(gdir())) +
                                 " \\(owner 4242, mode 0755\\) is another user's, so another user can change it\\.  "
                                 "Root acts for no other user: run it as 4242 \\(runuser -u 4242 -- lorvex-cycle " +
                                 literal(dir_.file("layout/g1.ini")) + "\\)\\.  No cycle is run\\.\n$"))
      << r.err;
  EXPECT_TRUE(programs().empty());
  EXPECT_FALSE(dir_.exists(gdir("last-cycle")));
  EXPECT_FALSE(dir_.exists(gdir("cycle-began")));
}

// Root's status command reads a tree root does not own as its owner: a file
// the owner cannot read is one the look cannot read, however root could.
TEST_F(ServiceUser, TheStatusCommandRunByRootLooksAsTheTreesOwner) {
  give_tree(service_uid_, service_gid_);
  dir_.write("data/PRODUCTION.gdbm", "db\n");
  dir_.write("data/INFO.soif", "@FILE { x\nNumber-Of-Templates{2}:\t7\n}\n");
  ASSERT_EQ(::chmod(dir_.file("data/INFO.soif").c_str(), 0600), 0);
  lxt::RunResult r = run_recorded("lorvex-status", {"--brief"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(matches(r.out, "^g1: cycle idle; daemon free; templates -;[^\n]*; warning: INFO\\.soif cannot be "
                             "read: errno=13"))
      << r.out << r.err;

  give_tree(kStranger, kStranger);
  r = run_recorded("lorvex-status", {"--brief"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(matches(r.out, "^g1: cannot tell: the gatherer directory " + literal(dir_.file(gdir())) +
                             " is owned by user id 4242, which has no account to look as\n"))
      << r.out;
}

}  // namespace
