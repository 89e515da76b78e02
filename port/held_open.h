#pragma once
// Whether some process holds a file open for writing.

namespace port {

// Whether some process holds the file open for writing (the test made with a
// deny-write share open on Windows). kCannotTell when no means at hand can
// establish it either way: a directory; on POSIX a lease refused together
// with processes whose descriptors cannot be examined (another user's); on
// Windows a holder that does not share reading. The caller then takes the
// safe side; *why (when given) receives a short text of the reason.
enum class HoldState { kFree, kHeld, kMissing, kCannotTell };
HoldState held_open_for_writing(const char* path, const char** why = nullptr);

}  // namespace port
