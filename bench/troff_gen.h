#pragma once
#include <cstdio>

namespace bench {

// Writes a troff-style document of about `bytes` bytes to out: sections of
// long paragraphs whose first line ends a sentence, so that an abstract keeps
// a few lines of each and drops the rest, and stays far below its line limit
// (the whole document is read). Returns 0, or -1 when writing fails.
int write_troff(std::FILE* out, long long bytes);

}  // namespace bench
