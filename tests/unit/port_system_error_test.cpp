// The port's table of Windows system error codes and the errno values they stand for.
#include <gtest/gtest.h>

#include <cerrno>

#include "port/system_error.h"

namespace {

TEST(SystemErrorToErrno, TableRowsTheirRangesBothEndsAndTheRest) {
  const struct {
    int code, errno_value;
  } rows[] = {
      // Files and programs: not found, not a valid program, access, memory, not empty, exists, too long.
      {0, 0}, {2, ENOENT}, {3, ENOENT}, {193, ENOEXEC}, {5, EACCES}, {8, ENOMEM}, {145, ENOTEMPTY}, {183, EEXIST},
      {206, ENAMETOOLONG},
      // Ranges include both ends.
      {133, ENFILE}, {134, ENOSYS}, {143, ENOSYS}, {188, ENOSYS}, {192, ENOSYS}, {230, EPIPE}, {233, EPIPE},
      // Socket codes stay as they are, but for the few with an errno twin.
      {10035, 10035}, {10062, 10062}, {10064, 10064}, {10071, 10071}, {10091, 10091}, {10093, 10093},
      {10101, 10101}, {10112, 10112}, {11001, 11001}, {11004, 11004}, {10004, EINTR}, {10009, EBADF},
      {10013, EACCES}, {10014, EFAULT}, {10024, EMFILE}, {10063, ENAMETOOLONG},
      // Every other code is an invalid argument.
      {1, EINVAL}, {13, EINVAL}, {24, EINVAL}, {144, EINVAL}, {1000, EINVAL}, {10000, EINVAL}, {10034, EINVAL},
      {10072, EINVAL}, {10090, EINVAL}, {10100, EINVAL}, {10111, EINVAL}, {11005, EINVAL}, {-1, EINVAL},
  };
  for (const auto& row : rows) EXPECT_EQ(port::system_error_to_errno(row.code), row.errno_value) << row.code;
}

}  // namespace
