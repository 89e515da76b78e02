#include "tools/skim/pieces.h"

#include <experimental/simd>

namespace skim {

PieceReader::PieceReader(std::size_t block)
    : block_(block < 2 ? 2 : block), buffer_(new char[block_ + kLineBufferSize]) {}

void PieceReader::start(std::FILE* input, bool text_mode) {
  restore();
  input_ = port::BlockReader(input, text_mode);
  reading_ = input != nullptr;
  begin_ = end_ = 0;
  at_end_ = failed_ = false;
  consumed_ = 0;
}

// Moves the partial piece to the front and reads what has arrived, at most a
// block, after it. False when nothing more could be read.
bool PieceReader::fill() {
  if (at_end_ || !reading_) return false;
  const std::size_t left = end_ - begin_;
  std::memmove(buffer_.get(), buffer_.get() + begin_, left);
  begin_ = 0;
  end_ = left;
  // Less than a whole piece is left, so a block always fits after it.
  const long got = input_.read(buffer_.get() + end_, block_);
  if (got <= 0) {
    at_end_ = true;
    failed_ = got < 0;
    return false;
  }
  end_ += static_cast<std::size_t>(got);
  return true;
}

std::size_t PieceReader::piece_length_after_refill() {
  for (;;) {
    const std::size_t available = end_ - begin_;
    if (const std::size_t length = whole_line_length(buffer_.get() + begin_, available)) return length;
    if (available >= kMaxPiece) return kMaxPiece;
    if (!fill()) {
      // The last piece of the input has no newline; a read error ends the
      // input where it happened.
      return failed_ ? 0 : available;
    }
  }
}

namespace {

namespace stdx = std::experimental;

// From the piece start `at`, passes over whole pieces that begin with neither
// a full stop nor a newline (none of them can be kept). It looks at 32 bytes at
// a time for a newline followed by a full stop or a newline, so that it does
// not stop at every line: stopping per line (a call of memchr per line) costs
// more than all the rest of the skipping. Stops at a piece that begins with
// either byte, at a line too long for one piece, or where the whole lines in
// [at, end) end; what it stops at is a piece start.
//
// Whether a block holds a newline at all is as good as random (lines are
// about as long as a block), so the loop does not branch on it: it remembers
// the last block that held one, and works out where the current line begins
// only where a line could have grown too long for a piece, and at the end.
const char* pass_unkept_candidates(const char* at, const char* end) {
  using Bytes = stdx::fixed_size_simd<char, 32>;
  constexpr std::ptrdiff_t kWidth = Bytes::size();
  constexpr std::ptrdiff_t kPiece = kLineBufferSize - 1;
  if (at == end || *at == '.' || *at == '\n') return at;
  // The last block that held a newline (nullptr: none since `at`).
  const char* newline_block = nullptr;
  // The start of the current line: after the last newline of that block.
  const auto line_start = [&]() {
    if (newline_block == nullptr) return at;
    const Bytes bytes(newline_block, stdx::element_aligned);
    return newline_block + stdx::find_last_set(bytes == '\n') + 1;
  };
  const char* p = at;
  for (; end - p > kWidth; p += kWidth) {
    // Each step reads the 32 bytes at p and the 32 bytes at p + 1.
    const Bytes bytes(p, stdx::element_aligned);
    const Bytes next(p + 1, stdx::element_aligned);
    const auto newlines = bytes == '\n';
    const auto candidates = newlines && (next == '.' || next == '\n');
    // A line begins at or after the newline block: only beyond a piece's
    // length from there can it be too long.
    if (p + kWidth - (newline_block != nullptr ? newline_block : at) >= kPiece) [[unlikely]] {
      const char* const line = line_start();
      const bool any = stdx::any_of(newlines);
      if (!any && p + kWidth - line >= kPiece) return line;
      if (any && p + stdx::find_first_set(newlines) - line >= kPiece) return line;
    }
    if (stdx::any_of(candidates)) return p + stdx::find_first_set(candidates) + 1;
    newline_block = stdx::any_of(newlines) ? p : newline_block;
  }
  return line_start();
}

}  // namespace

const char* PieceReader::next_kept_line() {
  restore();
  for (;;) {
    // Whole lines in the buffer are passed over in this tight loop; what it
    // stops at is cut as next() cuts it.
    const char* const data = buffer_.get();
    const char* at = data + begin_;
    const char* const end = data + end_;
    for (;;) {
      at = pass_unkept_candidates(at, end);
      if (at == end) break;
      const std::size_t length = whole_line_length(at, static_cast<std::size_t>(end - at));
      if (length == 0 || is_kept_line(at, length)) break;
      at += length;
    }
    const std::size_t passed = static_cast<std::size_t>(at - data) - begin_;
    begin_ += passed;
    consumed_ += passed;

    const std::size_t length = piece_length();
    if (length == 0) return nullptr;
    if (is_kept_line(buffer_.get() + begin_, length)) return give(length);
    begin_ += length;
    consumed_ += length;
  }
}

}  // namespace skim
