// packdump: rebuilds the compressed dump of all templates, All-Templates.gz,
// from the production database of the current directory. Arguments are
// ignored; the exit status tells whether the dump is the new one.
#include "admin/packdump/dump.h"

int LORVEX_PROGRAM_ENTRY(int, char**) { return rebuild_dump(); }
