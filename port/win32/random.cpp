// The runtime's rand_s draws from the system's own generator, not from the
// runtime's seeded sequence.
#define _CRT_RAND_S
#include <stdlib.h>

#include <cerrno>
#include <cstring>

#include "port/random.h"

namespace port {

int random_bytes(void* buffer, std::size_t size) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  for (std::size_t filled = 0; filled < size;) {
    unsigned int value = 0;
    if (rand_s(&value) != 0) {
      errno = EIO;
      return -1;
    }
    const std::size_t take = size - filled < sizeof value ? size - filled : sizeof value;
    std::memcpy(bytes + filled, &value, take);
    filled += take;
  }
  return 0;
}

}  // namespace port
