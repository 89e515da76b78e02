#pragma once
// File operations by path. On POSIX every path has its "\" separators turned
// into "/" before it reaches the file system (Shift_JIS trail bytes are left
// alone). Results are 0 for success and -1 for failure with errno set, like
// the runtime calls they stand for.
#include <cstddef>
#include <cstdio>
#include <string>

namespace port {

struct FileInfo {
  bool is_directory = false;
  bool is_regular = false;
  bool is_device = false;  // a character or block device (the null device, a console)
  bool is_fifo = false;    // a named pipe in the file system (POSIX only)
  bool is_link = false;    // a symbolic link (a reparse point on Windows); only entry_stat tells
  long long size = 0;
  long long modified = 0;  // the last write, in seconds since 1970 (UTC), as time() counts
};

int file_stat(const char* path, FileInfo* info);  // _stat
// As file_stat, of the entry itself: a symbolic link in the name's place (a
// reparse point on Windows) is told as one (is_link, nothing else known of
// it) and never followed, so what it leads to is never looked at.
int entry_stat(const char* path, FileInfo* info);

// What tells one file from another and one version of a file from the next:
// a file put in a name's place by a rename has another index, a file written
// in place another size or time.
struct FileIdentity {
  unsigned long long device = 0;  // the volume (serial number on Windows)
  unsigned long long index = 0;   // inode; the file index on Windows
  long long size = 0;
  long long modified = 0;  // last write, in the system's finest unit
  bool operator==(const FileIdentity&) const = default;
};
int file_identity(const char* path, FileIdentity* identity);
// _fstat of the stream's file (a console or a pipe is neither a directory nor
// a regular file).
int stream_stat(std::FILE* stream, FileInfo* info);
bool is_readable(const char* path);               // _access(path, 4) == 0
bool exists(const char* path);                    // _access(path, 0) == 0
bool is_directory(const char* path);
// _chmod(path, _S_IWRITE): clears read-only. Only ever on the entry itself:
// a symbolic link (a reparse point on Windows) is left alone, -1 with EACCES.
int make_writable(const char* path);
int remove_file(const char* path);    // _unlink
// Removes the entry of this name only when it is a regular file itself (a
// read-only one too, as "del /F" removes it): a directory, a symbolic link
// (a reparse point on Windows) or anything else in its place is left, -1
// with EPERM, so that nothing is ever removed through a link. -1 with
// ENOENT when there is no such entry.
int remove_plain_file(const char* path);
int rename_file(const char* from, const char* to);
// Puts the file `from` in the place of `to` in one step, replacing `to` when
// it exists: at every moment `to` names either the old file or the whole new
// one, never nothing. The new file's data is flushed to the disk first, so a
// crash after the replacement cannot leave an empty file under the name.
int replace_file(const char* from, const char* to);
// Flushes the file's data to the disk (fsync, FlushFileBuffers). Windows
// flushes only through a handle that may write: a read-only file is made
// writable first.
int flush_file(const char* path);
// Flushes the directory's entries, so that names made, changed or removed in
// it survive a power loss. A file system that cannot flush a directory
// (EINVAL, EOPNOTSUPP) has made its names durable its own way: that is no
// failure. Windows writes a directory's entries through on its own (a rename
// with MOVEFILE_WRITE_THROUGH): nothing to do there.
int flush_directory(const char* path);
// Puts a new file holding these bytes in the name's place, whole or not at
// all: written to the work file NAME.new, made new for it (never through a
// link, never into a file another left there: one that a run cut off left
// goes first), flushed, renamed over the name, and the directory flushed. A
// link in the name's place is replaced itself, whatever it leads to. Only
// its owner may change the new file (mode 0644 on POSIX, whatever the
// umask lets through beside). 0, or -1 with errno: then the work file is
// gone and the name left as it was, except when only the directory's flush
// failed (the new file is in place but may not survive a power loss).
int write_whole_file(const char* path, const char* data, std::size_t size);

// A small file read whole from the name itself, for a reader that must not
// be led elsewhere nor kept waiting: a link in its place is never followed,
// a FIFO or device never waited for, and a file under another process's
// lease is not waited for either (kUnreadable, EWOULDBLOCK).
struct SmallFile {
  std::string bytes;
  unsigned long owner = 0;         // POSIX: the owner's user id (0 on Windows)
  bool others_may_write = false;   // POSIX: its group or everyone may write it
  FileIdentity identity;
};
enum class SmallRead {
  kRead,
  kMissing,     // nothing of that name
  kNotRegular,  // a link, a directory, a FIFO, a device ...
  kTooLarge,    // more than the limit's bytes
  kUnreadable,  // errno tells why
};
SmallRead read_small_file(const char* path, std::size_t limit, SmallFile* file);

// The user id of the entry's owner, the entry itself (a link is not
// followed); (unsigned long)-1 when it cannot be looked at, 0 on Windows.
unsigned long owner_of(const char* path);

int change_dir(const char* path);
// _open with create-new, read-only access, permission read and write; the
// descriptor is closed at once. -1 with errno (EEXIST when it exists).
int create_exclusive(const char* path);

// The longest path the system opens, in bytes without the terminating zero
// (a longer one fails, on Windows even as "no such file").
std::size_t max_path_length();

// The directory the path names, as every step of a run is to name it: on
// POSIX its real path (links and ".." resolved by the kernel, as the tools
// that reach it through the kernel see it), on Windows the full path as
// Windows reads it ("..", "." and separators resolved by the text). -1 with
// errno when it cannot be had or is no directory (ENOTDIR), or when the
// path the system gives cannot name it exactly in the programs' own form
// (EILSEQ): on POSIX a real path holding a "\" outside a double-byte
// character (a separator to every later step); on Windows a path that does
// not convert to the ANSI code page and back unchanged (a yen sign that a
// best fit turns into "\").
int resolve_directory(const char* path, std::string* resolved);

// The current directory (on POSIX its real path). -1 with errno when it
// cannot be had.
int current_directory(std::string* dir);

// The path as the current directory reads it, fixed so that a later change
// of directory cannot move it: an absolute path (on POSIX one that begins
// with "/" or "\", on Windows also one with a drive) is kept as it is, a
// relative one gets the current directory and a separator in front, its own
// separators kept. -1 with errno when the current directory cannot be had.
int absolute_path(const char* path, std::string* absolute);

}  // namespace port
