// essence (stand-in): the summarizing engine. Reads URLs on its standard
// input and appends one small template per URL to WORKING.gdbm in the data
// directory it is given (plain text here: the real database format belongs
// to the framework).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <string>

#include "port/file.h"
#include "port/text.h"

namespace {

constexpr std::size_t kMaxUrl = 2048;

void usage() { std::fputs("essence: usage: essence --dbdir DIRECTORY\n", stderr); }

// Appends the name with the directory's own separator, so that a Windows
// path stays one; none when the directory ends in one already (a trail byte
// of a Shift_JIS character is no separator).
std::string join(const std::string& dir, const char* name) {
  bool ends_in_separator = false;
  for (std::size_t i = 0; i < dir.size(); ++i) {
    const auto byte = static_cast<unsigned char>(dir[i]);
    ends_in_separator = byte == '/' || byte == '\\';
    if (port::is_lead_byte(byte) && i + 1 < dir.size()) ++i;
  }
  if (ends_in_separator) return dir + name;
  const char sep = dir.find('/') != std::string::npos ? '/' : '\\';
  return dir + sep + name;
}

}  // namespace

int main(int argc, char** argv) {
  std::string dbdir;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--dbdir") == 0 && i + 1 < argc) {
      dbdir = argv[++i];
    } else {
      usage();
      return 2;
    }
  }
  if (dbdir.empty()) {
    usage();
    return 2;
  }
  const std::string database = join(dbdir, "WORKING.gdbm");
  std::FILE* out = port::open_file(database.c_str(), "a");
  if (out == nullptr) {
    std::fprintf(stderr, "essence: cannot open %s: %s\n", database.c_str(), std::strerror(errno));
    return 1;
  }
  const std::string stamp = std::to_string(static_cast<long long>(std::time(nullptr)));
  int written = 0;
  std::string url;
  while (std::getline(std::cin, url)) {
    if (!url.empty() && url.back() == '\r') url.pop_back();
    if (url.empty()) continue;
    if (url.size() > kMaxUrl) {
      std::fprintf(stderr, "essence: skipped a URL of %zu characters (at most %zu)\n", url.size(), kMaxUrl);
      continue;
    }
    // A template: the URL, then attributes as Name{length}: value.
    std::fprintf(out, "@FILE { %s\nUpdate-Time{%zu}:\t%s\n}\n", url.c_str(), stamp.size(), stamp.c_str());
    ++written;
  }
  if (std::fclose(out) != 0) {
    std::fprintf(stderr, "essence: cannot write %s: %s\n", database.c_str(), std::strerror(errno));
    return 1;
  }
  std::fprintf(stderr, "essence: appended %d templates to %s\n", written, database.c_str());
  return 0;
}
