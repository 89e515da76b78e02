// storejoin (stand-in): consolidates databases by URL into a new one. The
// inputs come freshest first (the gathered database, then the production
// one), so the first template of a URL is kept and later ones of the same
// URL are dropped: a document gathered anew replaces its old template. The
// order is that of each URL's first appearance. A missing input (a
// gatherer's first run has no production database) is passed over.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "kestrel/templates.h"
#include "port/file.h"
#include "port/stream.h"

int main(int argc, char** argv) {
  int first = 1;
  // Space saving changes nothing in this stand-in's plain text.
  if (first < argc && std::strcmp(argv[first], "--save-spase") == 0) ++first;
  if (argc - first < 2) {
    std::fputs("storejoin: usage: storejoin [--save-spase] OUTPUT INPUT...\n", stderr);
    return 2;
  }
  const char* output = argv[first];
  std::vector<kestrel::Template> joined;
  std::set<std::string> seen;
  for (int i = first + 1; i < argc; ++i) {
    std::vector<kestrel::Template> templates;
    if (!kestrel::read_database(argv[i], &templates)) {
      if (port::exists(argv[i])) {
        std::fprintf(stderr, "storejoin: cannot read %s: %s\n", argv[i], std::strerror(errno));
        return 1;
      }
      std::fprintf(stderr, "storejoin: %s is not there, passed over\n", argv[i]);
      continue;
    }
    for (kestrel::Template& t : templates) {
      if (seen.insert(t.url).second) joined.push_back(std::move(t));
    }
  }
  std::FILE* out = port::open_file(output, "wb");
  if (out == nullptr || !kestrel::write_templates(out, joined) || std::fclose(out) != 0) {
    std::fprintf(stderr, "storejoin: cannot write %s: %s\n", output, std::strerror(errno));
    return 1;
  }
  std::fprintf(stderr, "storejoin: %zu templates into %s\n", joined.size(), output);
  return 0;
}
