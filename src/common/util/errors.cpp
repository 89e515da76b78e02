#include "src/common/util/errors.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "src/common/util/runtime_alloc.h"

namespace {

constexpr int kTextSize = 512;

// Texts for the codes the platform's library may have none for: the socket
// error codes and a few old device errors.
struct FallbackText {
  int code;
  const char* text;
};

constexpr FallbackText kFallbackTexts[] = {
    {320, "Floppy disk I/O error"},
    {322, "Deleted sector error"},
    {349, "Printer not select"},
    {357, "Printer cancel"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Protocol wrong type for socket"},
    {10042, "Protocol not available"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported\tby protocol family"},
    {10048, "Address already in use"},
    {10049, "Can't assign requested address"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection on reset"},
    {10053, "Software caused connection abort"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references: can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10064, "Host is down"},
    {10065, "No route to host"},
    {10067, "Too many processes"},
    {10071, "Valid name, no data record of requested type"},
    {10091, "Network subsystem is unavailable"},
    {10092, "WINSOCK.DLL version out of range"},
    {10093, "Successful WSAStartup not yet performed"},
    {10101, "Graceful shutdown in progress"},
    {11001, "Host not found"},
    {11002, "Non-authoritative host not found"},
};

// What a Windows system error code stands for: the codes first..last give
// result, or themselves when result is kSameCode. Codes in no row give EINVAL.
constexpr int kSameCode = -1;

struct ErrorRange {
  int first;
  int last;
  int result;
};

// The results 320 to 357 are no errno values: they only select a fallback text.
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

char* text_buffer;

// Whether the platform's text says that it has no text of its own for the
// code: "Unknown error", or glibc's way of saying it, "Unknown error N".
bool is_unknown_text(const char* text, int code) {
  static const char kUnknown[] = "Unknown error";
  if (std::strcmp(text, kUnknown) == 0) return true;
  char numbered[64];
  std::snprintf(numbered, sizeof numbered, "%s %d", kUnknown, code);
  return std::strcmp(text, numbered) == 0;
}

}  // namespace

const char* error_text(int code) {
  if (text_buffer == nullptr) {
    text_buffer = static_cast<char*>(runtime_alloc(kTextSize));
    if (text_buffer == nullptr) return "Not enough space";
  }
  const char* platform_text = std::strerror(code);
  if (platform_text != nullptr && !is_unknown_text(platform_text, code)) {
    std::snprintf(text_buffer, kTextSize, "%s", platform_text);
    return text_buffer;
  }
  for (const FallbackText& entry : kFallbackTexts) {
    if (entry.code == code) {
      std::snprintf(text_buffer, kTextSize, "%s", entry.text);
      return text_buffer;
    }
  }
  std::snprintf(text_buffer, kTextSize, "errno = %d", code);
  return text_buffer;
}

int system_error_to_errno(int system_error) {
  for (const ErrorRange& row : kSystemErrors) {
    if (system_error >= row.first && system_error <= row.last) {
      return row.result == kSameCode ? system_error : row.result;
    }
  }
  return EINVAL;
}
