#include "admin/storeseal/arguments.h"

#include <cstring>

#include "admin/common/diagnostics.h"

namespace {

// The one spelling the consolidation step knows; the usage text has always
// spelled it otherwise, and that spelling is not the option.
constexpr char kSaveSpace[] = "--save-spase";

}  // namespace

bool parse_arguments(int argc, char** argv, SealArguments* arguments) {
  const int count = argc - 1;
  bool fits = false;
  if (count == 3 && std::strcmp(argv[1], kSaveSpace) == 0) {
    arguments->save_space = argv[1];
    arguments->gatherer_id = argv[2];
    arguments->directory = argv[3];
    fits = true;
  } else if (count == 2 && std::strcmp(argv[1], kSaveSpace) != 0) {
    arguments->gatherer_id = argv[1];
    arguments->directory = argv[2];
    fits = true;
  }
  if (!fits) {
    Diagnostics("storeseal").say("%s", kStoresealUsage);
  }
  return fits;
}
