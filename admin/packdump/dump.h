#pragma once

// Rebuilds All-Templates.gz in the current directory from PRODUCTION.gdbm
// with dbmtool and gzip. The old dump stays in place until a whole new one
// can take its name; every failure is told on standard error except a gzip
// that cannot be run, which leaves the dump as it was without a word.
void rebuild_dump();
