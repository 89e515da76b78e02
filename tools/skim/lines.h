#pragma once
// The abstract's rules, one line at a time, without any input or output of
// their own: the caller reads the pieces and writes what the verdict says, so
// that the same rules run in the program and under the fuzzer.

#include <cstddef>

namespace skim {

// Lines are read in pieces of at most this many bytes less one (the room an
// fgets-style read needs for its terminating zero).
inline constexpr int kLineBufferSize = 2048;
// After a sentence end the rest of the paragraph is replaced by this line.
inline constexpr char kMarker[] = "...\n";
// The abstract ends once more lines than this have been written.
inline constexpr int kMaxLinesWritten = 512;
// A paragraph without a sentence end is cut once this many characters have
// been scanned since the last marker.
inline constexpr int kCharacterBudget = 100;

// What to do with one line.
struct Verdict {
  bool write_line = false;    // write the line itself
  bool write_marker = false;  // then the marker line
  bool stop = false;          // the line limit is reached: end the run
};

class LineHandler {
 public:
  // line: a piece as an fgets-style read gives it, ended by a zero byte;
  // only the bytes before the first zero byte take part.
  Verdict handle(const char* line);

  int lines_written() const { return lines_written_; }
  bool skipping() const { return skipping_; }
  int budget() const { return budget_; }

 private:
  int lines_written_ = 0;  // kept and summary lines, markers not counted
  bool skipping_ = false;
  int budget_ = 0;
};

// Whether the line begins with one of the requests (or is the empty line)
// that pass through whatever the state.
bool is_kept_line(const char* line);
// The same for a piece of `length` bytes that need not be followed by a zero
// byte: bytes beyond it count as zero.
bool is_kept_line(const char* line, std::size_t length);

}  // namespace skim
