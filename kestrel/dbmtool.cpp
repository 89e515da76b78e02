// dbmtool (stand-in): "dbmtool print -exportd DATABASE" writes every template
// of the database to standard output.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "kestrel/templates.h"
#include "port/stream.h"

int main(int argc, char** argv) {
  if (argc != 4 || std::strcmp(argv[1], "print") != 0 || std::strcmp(argv[2], "-exportd") != 0) {
    std::fputs("dbmtool: usage: dbmtool print -exportd DATABASE\n", stderr);
    return 2;
  }
  std::vector<kestrel::Template> templates;
  if (!kestrel::read_database(argv[3], &templates)) {
    std::fprintf(stderr, "dbmtool: cannot read %s: %s\n", argv[3], std::strerror(errno));
    return 1;
  }
  port::set_binary_mode(stdout);
  if (!kestrel::write_templates(stdout, templates)) {
    std::fprintf(stderr, "dbmtool: cannot write the templates: %s\n", std::strerror(errno));
    return 1;
  }
  return 0;
}
