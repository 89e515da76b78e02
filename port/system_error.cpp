// The Windows system error codes as errno values, the same on both targets.
#include "port/system_error.h"

#include <cerrno>

namespace port {

namespace {

// What a Windows system error code stands for: the codes first..last give
// result, or themselves when result is kSameCode. Codes in no row give EINVAL.
constexpr int kSameCode = -1;

struct ErrorRange {
  int first;
  int last;
  int result;
};

constexpr ErrorRange kSystemErrors[] = {
    {0, 0, 0},
    {2, 3, ENOENT}, {161, 161, ENOENT}, {208, 208, ENOENT}, {215, 215, ENOENT},
    {267, 267, ENOENT}, {276, 276, ENOENT},
    {127, 127, ESRCH},
    {10004, 10004, EINTR},
    {29, 31, EIO}, {57, 57, EIO}, {88, 88, EIO}, {299, 299, EIO},
    {21, 21, ENXIO}, {72, 72, ENXIO}, {110, 110, ENXIO}, {126, 126, ENXIO},
    {100, 100, E2BIG}, {102, 102, E2BIG}, {152, 152, E2BIG}, {298, 298, E2BIG},
    {193, 193, ENOEXEC},
    {6, 6, EBADF}, {114, 114, EBADF}, {10009, 10009, EBADF},
    {128, 128, ECHILD},
    {155, 155, EAGAIN}, {164, 164, EAGAIN},
    {8, 8, ENOMEM}, {14, 14, ENOMEM}, {147, 147, ENOMEM}, {200, 200, ENOMEM},
    {214, 214, ENOMEM}, {275, 275, ENOMEM},
    {5, 5, EACCES}, {12, 12, EACCES}, {17, 17, EACCES}, {19, 19, EACCES},
    {32, 33, EACCES}, {82, 82, EACCES}, {86, 86, EACCES}, {108, 108, EACCES},
    {130, 130, EACCES}, {167, 167, EACCES}, {173, 173, EACCES}, {288, 288, EACCES},
    {10013, 10013, EACCES},
    {7, 7, EFAULT}, {9, 11, EFAULT}, {38, 38, EFAULT}, {83, 84, EFAULT},
    {117, 117, EFAULT}, {122, 122, EFAULT}, {157, 159, EFAULT}, {180, 180, EFAULT},
    {207, 207, EFAULT}, {212, 212, EFAULT}, {240, 240, EFAULT}, {10014, 10014, EFAULT},
    {170, 170, EBUSY},
    {80, 80, EEXIST}, {183, 183, EEXIST},
    {15, 15, ENODEV}, {20, 20, ENODEV},
    {16, 16, EISDIR},
    {133, 133, ENFILE}, {277, 277, ENFILE},
    {4, 4, EMFILE}, {18, 18, EMFILE}, {36, 36, EMFILE}, {10024, 10024, EMFILE},
    {101, 101, EFBIG}, {103, 105, EFBIG}, {151, 151, EFBIG}, {153, 153, EFBIG},
    {187, 187, EFBIG},
    {39, 39, ENOSPC}, {112, 112, ENOSPC},
    {109, 109, EPIPE}, {230, 233, EPIPE}, {536, 536, EPIPE},
    {121, 121, ERANGE},
    {111, 111, ENAMETOOLONG}, {154, 154, ENAMETOOLONG}, {206, 206, ENAMETOOLONG},
    {10063, 10063, ENAMETOOLONG},
    {119, 120, ENOSYS}, {124, 124, ENOSYS}, {129, 129, ENOSYS}, {134, 143, ENOSYS},
    {149, 150, ENOSYS}, {174, 174, ENOSYS}, {182, 182, ENOSYS}, {188, 192, ENOSYS},
    {194, 199, ENOSYS}, {201, 202, ENOSYS}, {266, 266, ENOSYS}, {282, 282, ENOSYS},
    {145, 145, ENOTEMPTY},
    {26, 26, 320}, {34, 34, 320}, {106, 107, 320},
    {25, 25, 322}, {27, 27, 322},
    {28, 28, 349}, {61, 62, 349},
    {63, 63, 357},
    {50, 50, 10045}, {55, 55, 10045}, {58, 58, 10045}, {66, 66, 10045},
    {85, 85, 10048},
    {59, 59, 10050},
    {54, 54, 10051}, {60, 60, 10051}, {64, 64, 10051}, {67, 67, 10051}, {70, 70, 10051},
    {56, 56, 10055}, {68, 69, 10055}, {71, 71, 10055}, {89, 89, 10055},
    {51, 51, 10061}, {65, 65, 10061},
    {23, 23, 10062},
    {10035, 10062, kSameCode}, {10064, 10071, kSameCode}, {10091, 10093, kSameCode},
    {10101, 10101, kSameCode}, {10112, 10112, kSameCode}, {11001, 11004, kSameCode},
};

}  // namespace

int system_error_to_errno(int system_error) {
  for (const ErrorRange& row : kSystemErrors) {
    if (system_error >= row.first && system_error <= row.last) {
      return row.result == kSameCode ? system_error : row.result;
    }
  }
  return EINVAL;
}

}  // namespace port
