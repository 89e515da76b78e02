// linkprune (stand-in): the first step of a cycle. Looks at the directories
// it is given and reports; the demo has no stale links to prune.
#include <cstdio>

#include "port/file.h"

int main(int argc, char** argv) {
  int found = 0;
  for (int i = 1; i < argc; ++i) {
    if (port::is_directory(argv[i])) {
      ++found;
    } else {
      std::fprintf(stderr, "linkprune: %s is no directory, skipped\n", argv[i]);
    }
  }
  if (argc == 2 && found == 1) {
    std::fprintf(stderr, "linkprune: no stale links in %s\n", argv[1]);
  } else {
    std::fprintf(stderr, "linkprune: no stale links in %d directories\n", found);
  }
  return 0;
}
