#pragma once
// What the two finishing programs, storeseal and packdump, share beyond the
// data directory's file names: their line sizes, the lines that probe gzip and
// export the templates, the lock each holds while it works, and the way a
// file they made takes the place of the one it replaces.
#include <cstddef>
#include <string>

#include "port/file_lock.h"

// Every command line fits in these buffers with its terminating zero.
inline constexpr int kSealLineSize = 780;
inline constexpr int kDumpLineSize = 520;

// Where the gzip probe's output goes: each stream to the null device on its
// own (storeseal), or standard error joined to standard output there
// (packdump). Either way the probe is silent.
enum class ProbeOutput { kSeparately, kJoined };

// "cmd.exe /C GZIP -V" with the probe's redirections, gzip given as a word of
// a command line. False (out empty) when it does not fit.
bool compose_gzip_probe(char* out, std::size_t size, const char* gzip_word, ProbeOutput output);

// "cmd.exe /C dbmtool print -exportd PRODUCTION.gdbm > FILE": the production
// database's templates into a file. False (out empty) when it does not fit.
bool compose_template_export(char* out, std::size_t size, const char* file);

// Takes the program's lock in the current directory. False with the words
// of the refusal in *refusal (the error line's text): another run of the
// program at work, a program that an earlier run started still holding it,
// or a lock that cannot be taken; each followed by what is left (left_held
// while someone holds it, left_failed otherwise).
bool take_finishing_lock(port::FileLock* lock, const char* program, const char* lock_name, const char* left_held,
                         const char* left_failed, std::string* refusal);

// Puts the whole file made in the place of name in one step (port's
// replace_file: at every moment name is the old file or the whole new one).
// A read-only file in the name's place is made writable first, as before
// every other change: Windows refuses to replace a read-only file. 0, or -1
// with errno.
int put_in_place(const char* made, const char* name);
