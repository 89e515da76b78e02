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
