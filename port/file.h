#pragma once
// File facilities. On POSIX every path has its "\" separators turned into "/"
// before it reaches the file system (Shift_JIS trail bytes are left alone).
// Results are 0 for success and -1 for failure with errno set, like the
// runtime calls they stand for.
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace port {

struct FileInfo {
  bool is_directory = false;
  bool is_regular = false;
  long long size = 0;
};

int file_stat(const char* path, FileInfo* info);  // _stat
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
int rename_file(const char* from, const char* to);
// Puts the file `from` in the place of `to` in one step, replacing `to` when
// it exists: at every moment `to` names either the old file or the whole new
// one, never nothing. The new file's data is flushed to the disk first, so a
// crash after the replacement cannot leave an empty file under the name.
int replace_file(const char* from, const char* to);
int change_dir(const char* path);
// _open with create-new, read-only access, permission read and write; the
// descriptor is closed at once. -1 with errno (EEXIST when it exists).
int create_exclusive(const char* path);
// create_exclusive for a file that stands for something this process holds
// (a lock): until remove_held_file, a request to end the program (an
// interrupt, a quit, a termination or a hang-up; on Windows the console's
// Ctrl-C, Ctrl-Break and close events) removes the file first, then ends the program
// as it would have ended. No such request is acted on between the creation
// and the moment the file is remembered, so a file that another process
// created is never removed. One held file at a time. A kill that cannot be
// caught (SIGKILL, TerminateProcess) still leaves the file.
int create_held_file(const char* path);
// remove_file for the held file, and the end of the removal at termination.
int remove_held_file(const char* path);

// fopen with the path rule above. Text modes follow the runtime's ("r", "a+" ...).
// Only a regular file opens, and never after a wait: on POSIX a FIFO, a
// socket, a device or a directory is refused with EACCES (Windows' answer
// for a directory) without waiting for the other end of a FIFO. A file
// opened for writing is never reached through a symbolic link (nor through a
// reparse point on Windows): EACCES.
std::FILE* open_file(const char* path, const char* mode);

// Whether everything written to the stream so far has reached its file:
// flushes it and looks at its error flag. 0, or -1 with errno set (EIO when
// an earlier write failed and its errno is gone).
int flush_checked(std::FILE* stream);
// Closes a stream written to, flush_checked first: 0 only when every write
// and the close succeeded, else -1 with errno. The stream is closed either way.
int close_checked(std::FILE* stream);

void set_binary_mode(std::FILE* stream);
void set_text_mode(std::FILE* stream);

// Reads a stream opened in text mode: a carriage return directly before a line
// feed is dropped, on both targets, and nothing else is changed (a Ctrl-Z byte
// is a byte like any other, not the end of the file). It must be the stream's
// only reader.
class TextReader {
 public:
  explicit TextReader(std::FILE* stream) : stream_(stream) {}
  // Next character, or EOF.
  int get();
  // As fgets: at most size-1 characters, up to and including a line feed.
  // Returns buffer, or null at end of file with nothing read or on a read
  // error. *length (when given) receives the number of characters read,
  // which tells a zero byte inside the line from its end.
  char* get_line(char* buffer, int size, int* length = nullptr);

 private:
  std::FILE* stream_;
  bool binary_ = false;
};

// One read of the stream's file, as _read: up to size bytes, and from a pipe
// or a terminal only what has arrived (it waits only until something has;
// a regular file fills the request unless it ends first). The count, 0 at
// the end of the input, -1 on a read error with errno set. The stream's own
// buffer is passed by: it must never have been read through.
long read_available(std::FILE* stream, char* buffer, std::size_t size);

// Reads a stream in blocks as its data arrives (read_available), in binary or
// in text mode; in text mode a carriage return directly before a line feed is
// dropped, as TextReader drops it. It must be the stream's only reader.
class BlockReader {
 public:
  BlockReader() = default;
  BlockReader(std::FILE* stream, bool text_mode) : stream_(stream), text_(text_mode) {}
  // Up to size bytes (size at least 2): their count, 0 at the end of the
  // input, -1 on a read error with errno set.
  long read(char* buffer, std::size_t size);

 private:
  std::FILE* stream_ = nullptr;
  bool text_ = false;
  bool binary_set_ = false;
  // A carriage return that ended the last read: whether a line feed follows
  // is not known yet.
  bool held_cr_ = false;
};

// Whether some process holds the file open for writing (the test made with a
// deny-write share open on Windows). kCannotTell when no means at hand can
// establish it either way: a directory; on POSIX a lease refused together
// with processes whose descriptors cannot be examined (another user's); on
// Windows a holder that does not share reading. The caller then takes the
// safe side; *why (when given) receives a short text of the reason.
enum class HoldState { kFree, kHeld, kMissing, kCannotTell };
HoldState held_open_for_writing(const char* path, const char** why = nullptr);

// Directory search with a pattern whose last part may hold "*" and "?"
// (FindFirstFileA): files and directories alike, "." and ".." never.
struct DirEntry {
  std::string name;
  bool is_directory = false;
};
// 0 with the matches (possibly none); -1 when the directory cannot be read.
int find_entries(const char* pattern, std::vector<DirEntry>* entries);
// 1 when something matches, 0 when nothing does, -1 with errno when the
// directory cannot be searched: "nothing" is never said without looking.
int any_entry_matches(const char* pattern);

}  // namespace port
