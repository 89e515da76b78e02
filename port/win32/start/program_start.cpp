// Linked into every program of the system: what each must set up before its
// main runs. A write to a closed pipe fails on Windows anyway, so there is no
// signal to ignore.
#include <fcntl.h>
#include <io.h>

#include <cstdint>

namespace {

// A program started without a standard handle would give that descriptor's
// number to the next file it opens (a log), and its own messages would be
// written into that file. The null device takes each missing descriptor of
// the runtime first.
void fill_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    const std::intptr_t handle = _get_osfhandle(fd);
    if (handle != -1 && handle != -2) continue;
    const int opened = _open("NUL", fd == 0 ? _O_RDONLY : _O_WRONLY);
    if (opened < 0) continue;
    if (opened != fd) {
      _dup2(opened, fd);
      _close(opened);
    }
  }
}

struct ProgramStart {
  ProgramStart() { fill_standard_descriptors(); }
};

const ProgramStart program_start;

}  // namespace
