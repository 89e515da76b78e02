#include "kestrel/templates.h"
#include "port/stream.h"

#include <cstring>


namespace kestrel {

namespace {

bool next_line(std::FILE* in, std::string* line) {
  line->clear();
  int c;
  while ((c = std::fgetc(in)) != EOF && c != '\n') line->push_back(static_cast<char>(c));
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return c != EOF || !line->empty();
}

}  // namespace

std::vector<Template> read_templates(std::FILE* in, int* dropped) {
  std::vector<Template> templates;
  int lost = 0;
  bool open = false;
  std::string line;
  while (next_line(in, &line)) {
    if (!open) {
      const std::size_t brace = line.find(" { ");
      if (line.empty()) continue;
      if (line[0] != '@' || brace == std::string::npos) {
        ++lost;
        continue;
      }
      templates.push_back({line.substr(brace + 3), line + '\n'});
      open = true;
      continue;
    }
    templates.back().text += line + '\n';
    if (line == "}") open = false;
  }
  if (open) {
    templates.pop_back();
    ++lost;
  }
  if (dropped != nullptr) *dropped = lost;
  return templates;
}

bool read_database(const char* path, std::vector<Template>* templates, int* dropped) {
  std::FILE* in = port::open_file(path, "rb");
  if (in == nullptr) return false;
  *templates = read_templates(in, dropped);
  std::fclose(in);
  return true;
}

bool write_templates(std::FILE* out, const std::vector<Template>& templates) {
  for (const Template& t : templates) {
    if (std::fwrite(t.text.data(), 1, t.text.size(), out) != t.text.size()) return false;
  }
  return std::fflush(out) == 0;
}

bool read_all(const char* path, std::string* bytes) {
  std::FILE* in = port::open_file(path, "rb");
  if (in == nullptr) return false;
  char block[8192];
  std::size_t got;
  while ((got = std::fread(block, 1, sizeof block, in)) > 0) bytes->append(block, got);
  const bool ok = std::ferror(in) == 0;
  std::fclose(in);
  return ok;
}

bool flag_and_file(int argc, char** argv, const char* flag, bool* flag_given, const char** path) {
  *flag_given = false;
  *path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], flag) == 0) {
      *flag_given = true;
    } else if (*path == nullptr && argv[i][0] != '-') {
      *path = argv[i];
    } else {
      return false;
    }
  }
  return *path != nullptr;
}

}  // namespace kestrel
