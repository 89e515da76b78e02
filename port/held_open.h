#pragma once
// Whether some process holds a file open for writing.

namespace port {

// Whether some process holds the file open for writing (the test made with a
// deny-write share open on Windows). The name is examined as the entry
// itself, never through a symbolic link. kCannotTell when no means at hand
// can establish it either way: a directory; on POSIX a FIFO or a socket
// (never opened: a writer of one blocks), or a lease refused together with
// processes whose descriptors cannot be examined (another user's, or any
// other where /proc hides them); on Windows a holder that does not share
// reading, or a reparse point in the file's place. kDevice on POSIX for a
// device node: any number of processes write one, so only a check of the
// process in question can tell. kLink on POSIX for a symbolic link: what it
// leads to may be any file, held by any process, so it tells nothing of the
// program that names it. The caller then takes the safe side; *why (when
// given) receives a short text of the reason.
enum class HoldState { kFree, kHeld, kMissing, kCannotTell, kDevice, kLink };
HoldState held_open_for_writing(const char* path, const char** why = nullptr);

// The ids of the processes seen to hold the file (the entry itself) open for
// writing: the count found, of which at most capacity are stored. Always 0
// on Windows, which does not tell.
int writers_of(const char* path, long* pids, int capacity);

}  // namespace port
