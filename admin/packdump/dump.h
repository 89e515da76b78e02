#pragma once

// Rebuilds All-Templates.gz in the current directory from PRODUCTION.gdbm
// with dbmtool and gzip, one run at a time. The old dump stays in place until
// a whole new one can take its name. Returns the program's exit status: 0
// for a new dump, and for a gzip that cannot be run (the dump is then left
// as it was without a word); 1 after an error line for every other dump that
// was not made.
int rebuild_dump();
