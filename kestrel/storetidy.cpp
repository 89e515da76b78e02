// storetidy (stand-in): cleans a database in place. Keeps its whole
// templates, drops stray lines and a template cut off before its end.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kestrel/templates.h"
#include "port/file.h"
#include "port/stream.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("storetidy: usage: storetidy DATABASE\n", stderr);
    return 2;
  }
  std::vector<kestrel::Template> templates;
  int dropped = 0;
  if (!kestrel::read_database(argv[1], &templates, &dropped)) {
    std::fprintf(stderr, "storetidy: cannot read %s: %s\n", argv[1], std::strerror(errno));
    return 1;
  }
  // The clean copy takes the database's name only when it is whole.
  const std::string clean = std::string(argv[1]) + ".tidy";
  std::FILE* out = port::open_file(clean.c_str(), "wb");
  if (out == nullptr || !kestrel::write_templates(out, templates) || std::fclose(out) != 0 ||
      port::replace_file(clean.c_str(), argv[1]) != 0) {
    std::fprintf(stderr, "storetidy: cannot write %s: %s\n", argv[1], std::strerror(errno));
    port::remove_file(clean.c_str());
    return 1;
  }
  std::fprintf(stderr, "storetidy: %s: kept %zu templates, dropped %d pieces\n", argv[1], templates.size(), dropped);
  return 0;
}
