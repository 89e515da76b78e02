#pragma once
// Whether another user can change a path. A program follows instructions
// from a file, runs a program from a directory or works in a tree as root
// only when nobody but root and the user it runs as could have put there
// what it finds. One answer for every caller, so that the settings readers,
// the program search and the checks of a tree before a run as root judge
// alike.
//
// POSIX: another user can change a path when the path, or any directory on
// its way down from "/" (links followed, each link's own directory judged
// too), is owned by neither root nor the effective user, or is writable by
// others, or is writable by its group (the group bits show ACL grants as
// well) unless that group is its owner's private group. A writable directory
// still passes when it is sticky and the entry met in it is owned by root or
// the effective user: nobody else can remove or rename that entry.
// Directories are examined without following a link (lstat) on the way
// down; a file read is judged by the descriptor actually read, opened
// without following a link and checked to be the entry that was judged.
// Only root or the user can change what passes, so the check cannot be
// raced.
//
// Windows: the rule does not apply; who may write the installation's
// directories is set by their access lists, which the pages tell the
// administrator to keep. Every path passes there.
#include <cstdio>
#include <string>

namespace port {

// What lets another user change a path.
enum class Exposure {
  kNone,            // only root or the effective user can change it
  kOwner,           // an entry on its way is another user's
  kGroupWritable,   // an entry on its way is writable by a group that is not its owner's own
  kOthersWritable,  // an entry on its way is writable by every user
};

// The answer for one path: the first entry on its way that fails, as it
// was found.
struct PathVerdict {
  Exposure exposure = Exposure::kNone;
  std::string entry;        // the failing entry (the path or a directory on its way), absolute, "/" separators
  unsigned long owner = 0;  // its owner's user id
  unsigned long group = 0;  // its group's id
  unsigned mode = 0;        // its permission bits (07777)
  // The path, or a directory on its way, does not exist: the verdict says
  // whether another user could make it (the last directory that exists is
  // judged as the path's end).
  bool missing = false;
};

// Judges the path (Windows form allowed; a relative one from the current
// directory). 0 with the verdict; -1 with errno when it cannot be told (an
// entry that cannot be looked at, EACCES; a link too many, ELOOP; a file on
// the way, ENOTDIR): the caller takes the safe side.
int judge_path(const char* path, PathVerdict* verdict);

// Opens the file for reading (mode "r" or "rb", as port/stream.h's
// open_file: only a regular file, never after a wait) only when another
// user cannot change it. Null with errno otherwise; EPERM with the
// verdict's exposure set when another user can change it.
std::FILE* open_instructions(const char* path, const char* mode, PathVerdict* verdict);

// True where the rule applies (POSIX).
bool ownership_judged();

// True when the program runs with the effective user id of root (never on
// Windows).
bool running_as_root();

// The effective user id (0 on Windows, where no rule asks for it).
unsigned long effective_user();

// The user's name from the password database, or the id in digits when it
// has none there.
std::string user_name(unsigned long uid);
// The group's name from the group database, or the id in digits.
std::string group_name(unsigned long gid);

}  // namespace port
