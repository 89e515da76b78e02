// skim's line rules take any bytes, cut into pieces as an fgets-style read
// cuts them, without reading past a piece, and keep their promises: no more
// lines than the limit, a marker after every cut, a budget that never stays
// above its bound.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tools/skim/lines.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  skim::LineHandler handler;
  std::size_t at = 0;
  while (at < size) {
    // One piece: up to and including a newline, at most 2047 bytes.
    std::size_t length = 0;
    while (at + length < size && length < skim::kLineBufferSize - 1) {
      if (data[at + length++] == '\n') break;
    }
    // A buffer of exactly the piece and its terminating zero, so that the
    // sanitizer sees any read beyond it.
    std::vector<char> piece(data + at, data + at + length);
    piece.push_back('\0');
    at += length;

    const bool kept = skim::is_kept_line(piece.data());
    const bool was_skipping = handler.skipping();
    const int before = handler.lines_written();
    const skim::Verdict verdict = handler.handle(piece.data());

    check(verdict.write_line == (kept || !was_skipping));
    check(handler.lines_written() == before + (verdict.write_line ? 1 : 0));
    check(!verdict.write_marker || (verdict.write_line && !kept));
    check(verdict.write_marker == (!kept && !was_skipping && handler.skipping()));
    check(handler.budget() <= skim::kCharacterBudget);
    check(!verdict.write_marker || handler.budget() == 0);
    check(verdict.stop == (handler.lines_written() > skim::kMaxLinesWritten));
    if (verdict.stop) break;
  }
  check(handler.lines_written() <= skim::kMaxLinesWritten + 1);
  return 0;
}
