// packdump: rebuilds the compressed dump of all templates, All-Templates.gz,
// from the production database of the current directory. Arguments are
// ignored. The exit status is 0 when the dump is the new one, and also when
// no usable gzip is found (then nothing is made and nothing said, and the
// old dump stays); 1 when a dump was to be made and was not.
#include "admin/packdump/dump.h"
#include "port/help_version.h"

int LORVEX_PROGRAM_ENTRY(int argc, char** argv) {
  // --help and --version alone are answered before the dump is touched.
  if (const int answered = port::answer_help_or_version(argc, argv, "packdump", "Usage: packdump.exe"); answered >= 0) return answered;
  return rebuild_dump();
}
