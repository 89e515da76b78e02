#include "tools/skim/pieces.h"

namespace skim {

PieceReader::PieceReader(std::size_t block, ScanWidth width)
    : block_(block < 2 ? 2 : block), width_(width), buffer_(new char[block_ + kLineBufferSize]) {}

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

const char* PieceReader::next_kept_line() {
  restore();
  for (;;) {
    // Whole lines in the buffer are passed over in this tight loop; what it
    // stops at is cut as next() cuts it.
    const char* const data = buffer_.get();
    const char* at = data + begin_;
    const char* const end = data + end_;
    for (;;) {
      at = pass_unkept_candidates(width_, at, end);
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
