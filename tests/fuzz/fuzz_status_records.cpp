// The status command's readings of a kept record and of a statistics count
// take any bytes, and agree with a plain description of the forms they accept.
#include <cstddef>
#include <cstdint>
#include <regex>
#include <string>

#include "admin/lorvexstatus/records.h"

namespace {

// The record of gatherer g1: a valid time stamp, a status the cycle command
// ends with, and a text without control characters other than tab.
int expected_status(const std::string& line) {
  static const std::regex record(
      "([0-9]{4})(0[1-9]|1[0-2])(0[1-9]|[12][0-9]|3[01]) ([01][0-9]|2[0-3]):[0-5][0-9]:([0-5][0-9]|60) "
      "g1: status (0|1|2|75): [^\\x00-\\x08\\x0a-\\x1f\\x7f]*");
  std::smatch match;
  if (line.find_first_of(std::string("\0\n\r", 3)) != std::string::npos) return -1;
  return std::regex_match(line, match, record) ? std::stoi(match[6].str()) : -1;
}

// Blanks, up to twelve digits without regard to leading zeros' count, then
// blanks or line ends only.
long long expected_count(const std::string& text) {
  static const std::regex count("[ \\t]*0*([0-9]{1,12})[ \\t\\r\\n]*");
  std::smatch match;
  if (text.find('\0') != std::string::npos) return -2;  // not compared: the reader stops there
  return std::regex_match(text, match, count) ? std::stoll(match[1].str()) : -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (record_status(text, "g1") != expected_status(text)) __builtin_trap();
  const long long want = expected_count(text);
  if (want != -2 && count_value(text.c_str()) != want) __builtin_trap();
  return 0;
}
