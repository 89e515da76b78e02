#include "port/posix/cmd/messages.h"

#include <cerrno>
#include <cstring>

namespace port::posix::cmd {

std::string failure_text(int error) {
  const char* text = nullptr;
  switch (error) {
    case ENOENT:
      text = kFileNotFoundMessage;
      break;
    case ENOTDIR:
      text = kPathNotFoundMessage;
      break;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      text = kAccessDeniedMessage;
      break;
    case ENOSPC:
    case EDQUOT:
      text = kDiskFullMessage;
      break;
    case EBADF:
      text = kInvalidHandleMessage;
      break;
    default:
      text = std::strerror(error);
      break;
  }
  return std::string(text) + "\n";
}

}  // namespace port::posix::cmd
