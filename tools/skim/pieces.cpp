#include "tools/skim/pieces.h"

namespace skim {

PieceReader::PieceReader(std::size_t block)
    : block_(block == 0 ? 1 : block), buffer_(block_ + kLineBufferSize) {}

void PieceReader::start(std::FILE* input) {
  restore();
  input_ = input;
  begin_ = end_ = 0;
  at_end_ = failed_ = false;
  consumed_ = 0;
}

// Moves the partial piece to the front and reads one block after it. False
// when nothing more could be read.
bool PieceReader::fill() {
  if (at_end_ || input_ == nullptr) return false;
  const std::size_t left = end_ - begin_;
  std::memmove(buffer_.data(), buffer_.data() + begin_, left);
  begin_ = 0;
  end_ = left;
  // Less than a whole piece is left, so a block always fits after it.
  const std::size_t got = std::fread(buffer_.data() + end_, 1, block_, input_);
  end_ += got;
  if (got < block_) {
    at_end_ = true;
    failed_ = std::ferror(input_) != 0;
  }
  return got > 0;
}

std::size_t PieceReader::piece_length_after_refill() {
  for (;;) {
    const std::size_t available = end_ - begin_;
    const std::size_t span = available < kMaxPiece ? available : kMaxPiece;
    const char* const start = buffer_.data() + begin_;
    if (const void* newline = std::memchr(start, '\n', span)) {
      return static_cast<std::size_t>(static_cast<const char*>(newline) - start) + 1;
    }
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
    const char* const data = buffer_.data();
    const char* at = data + begin_;
    const char* const end = data + end_;
    while (at < end) {
      const std::size_t available = static_cast<std::size_t>(end - at);
      const void* newline = std::memchr(at, '\n', available < kMaxPiece ? available : kMaxPiece);
      if (newline == nullptr) break;
      const std::size_t length = static_cast<std::size_t>(static_cast<const char*>(newline) - at) + 1;
      if ((*at == '.' || *at == '\n') && is_kept_line(at, length)) break;
      at += length;
    }
    const std::size_t passed = static_cast<std::size_t>(at - data) - begin_;
    begin_ += passed;
    consumed_ += passed;

    const std::size_t length = piece_length();
    if (length == 0) return nullptr;
    if (is_kept_line(buffer_.data() + begin_, length)) return give(length);
    begin_ += length;
    consumed_ += length;
  }
}

}  // namespace skim
