#include "admin/common/settings_line.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "admin/common/exec_cmd.h"

namespace {

// Copies text into a buffer of the given size; false when it does not fit.
bool copy_into(char* buffer, std::size_t size, const char* text, std::size_t length) {
  if (buffer == nullptr || length + 1 > size) return false;
  std::memcpy(buffer, text, length);
  buffer[length] = '\0';
  return true;
}

}  // namespace

void report_line_copy_failure() {
  std::fprintf(stderr, "GetAttrVal: %s: ERROR: Insufficient memory.\n", time_stamp());
}

int GetAttrVal(const char* line, char* name, std::size_t name_size, char* value, std::size_t value_size) {
  if (line == nullptr) return -1;
  // A private copy, as the line is split in place.
  const std::size_t line_length = std::strlen(line);
  char* copy = static_cast<char*>(std::malloc(line_length + 1));
  if (copy == nullptr) {
    report_line_copy_failure();
    return -1;
  }
  std::memcpy(copy, line, line_length + 1);

  int result = -1;
  char* name_start = copy + std::strspn(copy, "=");
  const std::size_t name_length = std::strcspn(name_start, "=");
  if (name_length > 0 && name_start[name_length] == '=') {
    char* value_start = name_start + name_length + 1;
    value_start += std::strspn(value_start, "\n");
    const std::size_t value_length = std::strcspn(value_start, "\n");
    if (value_length > 0) {
      if (!copy_into(name, name_size, name_start, name_length)) {
        result = kAttrNameTooLong;
      } else if (!copy_into(value, value_size, value_start, value_length)) {
        name[0] = '\0';
        result = kAttrValueTooLong;
      } else {
        result = 0;
      }
    }
  }
  std::free(copy);
  return result;
}
