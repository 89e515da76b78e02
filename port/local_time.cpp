#include "port/local_time.h"

#include <cstring>
#include <ctime>

namespace port {

bool format_local_time(char* out, std::size_t size) {
  const std::time_t now = std::time(nullptr);
  if (now == static_cast<std::time_t>(-1)) return false;
  const std::tm* local = std::localtime(&now);
  char stamp[kTimeStampSize];
  if (local == nullptr || std::strftime(stamp, sizeof stamp, "%Y%m%d %H:%M:%S", local) == 0 || size < sizeof stamp) {
    return false;
  }
  std::memcpy(out, stamp, sizeof stamp);
  return true;
}

}  // namespace port
