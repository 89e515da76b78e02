// The pid-file reader takes any bytes, and its number is the one a plain
// reading of "white space, sign, digits" gives, or none when that is not an int.
#include <cctype>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "admin/processfiles/process_files.h"

namespace {

// The expected reading, computed with arbitrary-length digits: a digit string
// counts as an int only while its value (sign included) lies in int's range.
int expected(const uint8_t* data, size_t size, long* pid) {
  size_t i = 0;
  while (i < size && std::isspace(data[i])) ++i;
  bool negative = false;
  if (i < size && (data[i] == '+' || data[i] == '-')) negative = data[i++] == '-';
  size_t first = i;
  while (i < size && data[i] == '0') ++i;
  size_t significant = i;
  while (i < size && std::isdigit(data[i])) ++i;
  if (i == first) return kPidFileNoNumber;
  if (i - significant > 10) return kPidFileNoNumber;
  long long number = 0;
  for (size_t k = significant; k < i; ++k) number = number * 10 + (data[k] - '0');
  if (negative) number = -number;
  if (number > INT_MAX || number < INT_MIN) return kPidFileNoNumber;
  *pid = static_cast<long>(number);
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "r");
  if (file == nullptr) return 0;
  long pid = 12345;
  const int result = read_pid_number(file, &pid);
  std::fclose(file);
  long want = 12345;
  const int want_result = expected(data, size, &want);
  if (result != want_result || (result == 0 && pid != want)) __builtin_trap();
  return 0;
}
