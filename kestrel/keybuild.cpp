// keybuild (stand-in): rebuilds the index of a database. Writes INDEX.gdbm
// (the URL of every template) and MD5.gdbm (a checksum of each template)
// beside the database named first; the formats are this stand-in's own.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "port/stream.h"
#include "port/text.h"

namespace {

// Everything up to and including the last separator ("\" or "/"); the
// trail byte of a Shift_JIS character is never taken for one.
std::string directory_of(const std::string& path) {
  std::size_t end = 0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    const auto byte = static_cast<unsigned char>(path[i]);
    if (port::is_lead_byte(byte) && i + 1 < path.size()) {
      ++i;
    } else if (byte == '\\' || byte == '/') {
      end = i + 1;
    }
  }
  return path.substr(0, end);
}

struct Template {
  std::string url;
  std::uint64_t checksum = 14695981039346656037ULL;  // FNV-1a over the template's bytes
};

bool read_templates(const char* path, std::vector<Template>* templates) {
  std::FILE* in = port::open_file(path, "r");
  if (in == nullptr) return false;
  std::string line;
  bool more = true;
  while (more) {
    line.clear();
    int c;
    while ((c = std::fgetc(in)) != EOF && c != '\n') line += static_cast<char>(c);
    more = c != EOF;
    if (line.empty()) continue;
    if (line[0] == '@') {
      const std::size_t brace = line.find("{ ");
      templates->push_back({brace == std::string::npos ? std::string() : line.substr(brace + 2)});
    }
    if (templates->empty()) continue;
    for (unsigned char byte : line + '\n') {
      templates->back().checksum = (templates->back().checksum ^ byte) * 1099511628211ULL;
    }
  }
  std::fclose(in);
  return true;
}

bool write_lines(const std::string& path, const std::vector<std::string>& lines) {
  std::FILE* out = port::open_file(path.c_str(), "w");
  if (out == nullptr) return false;
  for (const std::string& line : lines) std::fprintf(out, "%s\n", line.c_str());
  return std::fclose(out) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("keybuild: usage: keybuild DATABASE [...]\n", stderr);
    return 2;
  }
  std::vector<Template> templates;
  if (!read_templates(argv[1], &templates)) {
    std::fprintf(stderr, "keybuild: cannot read %s: %s\n", argv[1], std::strerror(errno));
    return 1;
  }
  std::vector<std::string> index;
  std::vector<std::string> sums;
  for (const Template& t : templates) {
    index.push_back(t.url);
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(t.checksum));
    sums.push_back(std::string(hex) + ' ' + t.url);
  }
  const std::string dir = directory_of(argv[1]);
  for (const auto& [name, lines] : {std::pair{"INDEX.gdbm", &index}, std::pair{"MD5.gdbm", &sums}}) {
    if (!write_lines(dir + name, *lines)) {
      std::fprintf(stderr, "keybuild: cannot write %s%s: %s\n", dir.c_str(), name, std::strerror(errno));
      return 1;
    }
  }
  std::fprintf(stderr, "keybuild: indexed %zu templates of %s into INDEX.gdbm and MD5.gdbm\n", templates.size(),
               argv[1]);
  return 0;
}
