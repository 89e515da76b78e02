// The environment with the Windows runtime's semantics, and the event log's
// file form.
#include <errno.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <string>

#include "port/env.h"
#include "port/eventlog.h"
#include "port_posix_test_support.h"

namespace {

using port_posix_test::read_file;
using port_posix_test::TempDir;

class PortEnv : public port_posix_test::SysCallsRestored {
 protected:
  void TearDown() override {
    unsetenv("LORVEX_T_VAR");
    unsetenv("LORVEX_EVENTLOG");
    SysCallsRestored::TearDown();
  }
};

TEST_F(PortEnv, EmptyValueRemovesTheVariable) {
  ASSERT_EQ(port::put_env("LORVEX_T_VAR=a=b"), 0);
  ASSERT_NE(port::get_env("LORVEX_T_VAR"), nullptr);
  EXPECT_STREQ(port::get_env("LORVEX_T_VAR"), "a=b");
  ASSERT_EQ(port::put_env("LORVEX_T_VAR="), 0);
  EXPECT_EQ(port::get_env("LORVEX_T_VAR"), nullptr);
  EXPECT_EQ(port::put_env("LORVEX_T_VAR="), 0);  // removing what is not there is fine
}

// A name is one name in any letter case, as on Windows: an inherited
// HTTP_PROXY must go with http_proxy, and no set name keeps a twin.
TEST_F(PortEnv, NamesAreOneNameInAnyLetterCase) {
  setenv("LORVEX_T_VAR", "upper", 1);
  setenv("Lorvex_T_Var", "mixed", 1);
  EXPECT_STREQ(port::get_env("LORVEX_T_VAR"), "upper");  // the exact name first
  EXPECT_STREQ(port::get_env("Lorvex_T_Var"), "mixed");
  ASSERT_NE(port::get_env("lorvex_t_var"), nullptr);  // else another case
  ASSERT_EQ(port::put_env("lorvex_t_var="), 0);
  EXPECT_EQ(getenv("LORVEX_T_VAR"), nullptr);
  EXPECT_EQ(getenv("Lorvex_T_Var"), nullptr);

  setenv("LORVEX_T_VAR", "inherited", 1);
  ASSERT_EQ(port::put_env("lorvex_t_var=set"), 0);
  EXPECT_EQ(getenv("LORVEX_T_VAR"), nullptr);
  EXPECT_STREQ(getenv("lorvex_t_var"), "set");
  EXPECT_STREQ(port::get_env("LORVEX_T_VAR"), "set");
  unsetenv("lorvex_t_var");
}

TEST_F(PortEnv, AssignmentsWithoutANameAreRefused) {
  EXPECT_EQ(port::put_env("LORVEX_T_VAR"), -1);
  EXPECT_EQ(port::put_env("=value"), -1);
  EXPECT_EQ(port::put_env(nullptr), -1);
  port::posix::sys().setenv = [](const char*, const char*, int) {
    errno = ENOMEM;
    return -1;
  };
  EXPECT_EQ(port::put_env("LORVEX_T_VAR=x"), -1);
  EXPECT_EQ(port::get_env("LORVEX_T_VAR"), nullptr);
}

TEST_F(PortEnv, EventsGoToTheNamedFileOneLineEach) {
  TempDir dir;
  setenv("LORVEX_EVENTLOG", dir.file("events.log").c_str(), 1);
  const char* strings[] = {"first text", "second"};
  ASSERT_EQ(port::report_event("Moxa3R", port::kEventError, 0xC0000101UL, strings, 2), 0);
  ASSERT_EQ(port::report_event("Moxa3R", port::kEventWarning, 42, strings, 1), 0);
  ASSERT_EQ(port::report_event("Moxa3R", port::kEventInformation, 7, nullptr, 0), 0);
  EXPECT_EQ(read_file(dir.file("events.log")),
            "Moxa3R\tERROR\t0xC0000101\tfirst text\tsecond\n"
            "Moxa3R\tWARNING\t0x0000002A\tfirst text\n"
            "Moxa3R\tINFORMATION\t0x00000007\n");
}

TEST_F(PortEnv, EventFileThatCannotBeOpenedReportsNothing) {
  TempDir dir;
  setenv("LORVEX_EVENTLOG", dir.file("no/such/dir/events.log").c_str(), 1);
  const char* strings[] = {"x"};
  EXPECT_EQ(port::report_event("Moxa3R", port::kEventError, 1, strings, 1), -1);
  struct stat st {};
  EXPECT_NE(::stat(dir.file("no").c_str(), &st), 0);
}

// Where no system logger takes the report (its socket cannot be made, or
// nobody listens), the line goes to standard error rather than into a
// syslog() that drops it without a word.
TEST_F(PortEnv, EventNoLoggerCanTakeGoesToStandardError) {
  using Calls = port::posix::SysCalls;
  struct Row {
    const char* what;
    int (*socket)(int, int, int);
    decltype(Calls::connect) connect;
    bool on_stderr;
  };
  const auto real_socket = [](int domain, int type, int protocol) { return ::socket(domain, type, protocol); };
  const Row rows[] = {
      {"no socket", [](int, int, int) { return errno = EMFILE, -1; }, nullptr, true},
      {"nobody listens", real_socket, [](int, const sockaddr*, socklen_t) { return errno = ECONNREFUSED, -1; }, true},
      {"a logger listens", real_socket, [](int, const sockaddr*, socklen_t) { return 0; }, false},
  };
  unsetenv("LORVEX_EVENTLOG");
  const char* strings[] = {"text"};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    port::posix::reset_sys();
    port::posix::sys().socket = row.socket;
    if (row.connect != nullptr) port::posix::sys().connect = row.connect;
    ::testing::internal::CaptureStderr();
    const int result = port::report_event("Moxa3R", port::kEventError, 5, strings, 1);
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(said, row.on_stderr ? "Moxa3R\tERROR\t0x00000005\ttext\n" : "");
  }
}

}  // namespace
