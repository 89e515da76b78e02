// storeseal: finishes a gatherer's databases after a gathering run: cleans,
// consolidates and indexes them, puts the result in the place of the
// production database, has packdump rebuild the dump and writes statistics.
#include "admin/storeseal/arguments.h"
#include "admin/storeseal/seal.h"
#include "port/help_version.h"

int LORVEX_PROGRAM_ENTRY(int argc, char** argv) {
  if (const int answered = port::answer_help_or_version(argc, argv, "storeseal", kStoresealUsage); answered >= 0) return answered;
  SealArguments arguments;
  if (!parse_arguments(argc, argv, &arguments)) return 1;
  return run_seal(arguments);
}
