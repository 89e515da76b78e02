// ridOrizIdor (stand-in): the Japanese rendering of the database statistics.
// Reads the statistics record on standard input and writes it in Shift_JIS.
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "port/stream.h"

namespace {

// The attributes of the record: "Name{length}:<tab>value" lines.
std::map<std::string, std::string> read_record(std::FILE* in) {
  std::map<std::string, std::string> values;
  std::string line;
  for (int c = std::fgetc(in);; c = std::fgetc(in)) {
    if (c != EOF && c != '\n') {
      line.push_back(static_cast<char>(c));
      continue;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t brace = line.find('{');
    const std::size_t colon = line.find("}:\t");
    if (brace != std::string::npos && colon != std::string::npos && brace < colon && line[0] != '@') {
      values[line.substr(0, brace)] = line.substr(colon + 3);
    }
    line.clear();
    if (c == EOF) break;
  }
  return values;
}

}  // namespace

int main() {
  port::set_binary_mode(stdin);
  port::set_binary_mode(stdout);
  std::map<std::string, std::string> values = read_record(stdin);
  if (values.find("Number-Of-Templates") == values.end()) {
    std::fputs("ridOrizIdor: no statistics on standard input\n", stdout);
    return 1;
  }
  std::printf("データベース統計情報\n");
  std::printf("ギャザラID: %s\n", values["Gatherer-ID"].c_str());
  std::printf("テンプレート数: %s\n", values["Number-Of-Templates"].c_str());
  std::printf("ホスト数: %s\n", values["Number-Of-Hosts"].c_str());
  std::printf("バイト数: %s\n", values["Number-Of-Bytes"].c_str());
  return 0;
}
