// What the look reads of a gatherer's files besides the records: how a file
// that is no regular file is named, and a count of the statistics.
#include "admin/lorvexstatus/records.h"

std::string kind_of(const port::FileInfo& info) {
  if (info.is_link) return "a symbolic link";
  if (info.is_directory) return "a directory";
  if (info.is_device) return "a device";
  if (info.is_fifo) return "a FIFO";
  return "a special file";
}

long long count_value(const char* text) {
  while (*text == ' ' || *text == '\t') ++text;
  const char* digits = text;
  long long value = 0;
  constexpr long long kMostTemplates = 999999999999LL;  // more than any database holds
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10 + (*text - '0');
    if (value > kMostTemplates) return -1;
  }
  if (text == digits) return -1;
  while (*text == ' ' || *text == '\t' || *text == '\r' || *text == '\n') ++text;
  return *text == '\0' ? value : -1;
}
