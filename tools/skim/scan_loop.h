#pragma once
// The loop behind pass_unkept_candidates, once for every vector width: each
// file that includes it builds it with its own instruction set, so that
// nothing in here may be shared between those files (all of it has internal
// linkage, and it calls no library function that the compiler could emit
// once for all of them).
#include <cstdint>

#include "tools/skim/lines.h"

namespace skim {
namespace {

// The 64 bytes at p, as bit masks (bit i for the byte at p + i): the newlines,
// and the newlines followed by a full stop or a newline (the byte at p + 64
// is read too). A `Lanes` type makes them, and tells whether there are any.
struct Masks {
  std::uint64_t newlines;
  std::uint64_t candidates;
};

// One vector of kBytes bytes at p, compared byte by byte: its newlines, and
// those followed by a full stop or a newline. What differs between the widths
// (how many vectors make a block, and how their bytes become a mask) is the
// `Lanes` type's own.
template <int kBytes>
struct Vectors {
  typedef char Bytes __attribute__((vector_size(kBytes)));
  // Nonzero when the block holds any of them.
  struct Any {
    int newlines;
    int candidates;
  };

  static Bytes load(const char* p) {
    Bytes bytes;
    __builtin_memcpy(&bytes, p, sizeof bytes);
    return bytes;
  }
  static Bytes newlines(const char* p) { return reinterpret_cast<Bytes>(load(p) == '\n'); }
  static Bytes candidates(const char* p) {
    const Bytes next = load(p + 1);
    return newlines(p) & reinterpret_cast<Bytes>((next == '.') | (next == '\n'));
  }
};

// Looks at 64 bytes at a time for a newline followed by a full stop or a
// newline, so that it does not stop at every line: stopping per line costs
// more than all the rest of the skipping. An empty line there is kept; a
// line that begins with a full stop is kept or not by its first three bytes
// alone (no request kept is longer, and none holds a newline, so the bytes
// after a short line's end do not change the answer): the many requests that
// are not kept are passed over without leaving the loop.
//
// Whether a block holds a newline at all is as good as random (lines are
// about as long as a block), so the loop does not branch on it: it remembers
// the last block that held one, and works out where the current line begins
// only where a line could have grown too long for a piece, and at the end.
template <class Lanes>
const char* pass_with(const char* at, const char* end) {
  constexpr std::ptrdiff_t kWidth = 64;
  constexpr std::ptrdiff_t kPiece = kLineBufferSize - 1;
  if (at == end || *at == '.' || *at == '\n') return at;
  // The last block that held a newline (nullptr: none since `at`).
  const char* newline_block = nullptr;
  // The start of the current line: after the last newline of that block.
  const auto line_start = [&]() {
    if (newline_block == nullptr) return at;
    return newline_block + (63 - __builtin_clzll(Lanes::masks(newline_block).newlines)) + 1;
  };
  const char* p = at;
  for (; end - p > kWidth; p += kWidth) {
    const typename Lanes::Any any = Lanes::any(p);
    // A line begins at or after the newline block: only beyond a piece's
    // length from there can it be too long.
    if (p + kWidth - (newline_block != nullptr ? newline_block : at) >= kPiece) [[unlikely]] {
      const char* const line = line_start();
      const std::uint64_t newlines = Lanes::masks(p).newlines;
      const std::ptrdiff_t first = newlines == 0 ? kWidth : __builtin_ctzll(newlines);
      if (p + first - line >= kPiece) return line;
    }
    if (any.candidates) [[unlikely]] {
      for (std::uint64_t left = Lanes::masks(p).candidates; left != 0; left &= left - 1) {
        const char* const start = p + __builtin_ctzll(left) + 1;
        if (*start == '\n' || end - start < 3 || is_kept_line(start, 3)) return start;
      }
    }
    newline_block = any.newlines ? p : newline_block;
  }
  return line_start();
}

}  // namespace
}  // namespace skim
