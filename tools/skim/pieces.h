#pragma once
// Cuts an input into the pieces an fgets-style read with a buffer of
// kLineBufferSize bytes gives: up to and including a newline, at most 2047
// bytes, the last piece of an input without a newline as it is. Reading whole
// blocks and cutting them here is several times faster than one fgets call
// per line, and the pieces are the same. A block is what has arrived: a pipe
// or a terminal is handled as its lines come, never kept waiting for a block
// to fill.
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>

#include "port/text_reader.h"
#include "tools/skim/lines.h"
#include "tools/skim/scan.h"

namespace skim {

class PieceReader {
 public:
  static constexpr std::size_t kDefaultBlock = 256 * 1024;

  // block: bytes asked of the stream at a time (at least 2); width: the
  // skipping loop to use.
  explicit PieceReader(std::size_t block = kDefaultBlock, ScanWidth width = widest_scan_width());

  // Starts reading a new input (the pieces of the last one are all taken),
  // in text mode (CR LF read as LF) or as it is.
  void start(std::FILE* input, bool text_mode);

  // The next piece, ended by a zero byte, valid until the next call; null at
  // the end of the input or on a read error (see failed()).
  const char* next() {
    restore();
    const std::size_t length = piece_length();
    return length == 0 ? nullptr : give(length);
  }

  // As next(), but passes over the pieces that are not kept lines: while the
  // abstract skips, only a kept line matters, and most of a long document is
  // passed over this way.
  const char* next_kept_line();

  bool failed() const { return failed_; }
  // Bytes of the input given out or passed over so far.
  std::size_t consumed() const { return consumed_; }

 private:
  static constexpr std::size_t kMaxPiece = kLineBufferSize - 1;

  // Length of the next piece, reading more when it is not whole in the
  // buffer; 0 at the end of the input or on a read error.
  std::size_t piece_length() {
    // Most pieces are whole lines already in the buffer.
    const std::size_t length = whole_line_length(buffer_.get() + begin_, end_ - begin_);
    return length != 0 ? length : piece_length_after_refill();
  }
  // Length of the line at start, its newline included, when that newline is
  // among the first `available` bytes and the line fits one piece; else 0.
  static std::size_t whole_line_length(const char* start, std::size_t available) {
    const void* newline = std::memchr(start, '\n', available < kMaxPiece ? available : kMaxPiece);
    return newline == nullptr ? 0 : static_cast<std::size_t>(static_cast<const char*>(newline) - start) + 1;
  }
  std::size_t piece_length_after_refill();
  bool fill();

  void restore() {
    if (zero_set_) buffer_[zero_at_] = saved_;
    zero_set_ = false;
  }

  // Gives out the next `length` bytes as a piece.
  const char* give(std::size_t length) {
    // The zero byte goes where the next piece starts (or into the spare byte
    // after the data): remembered and put back on the next call.
    zero_at_ = begin_ + length;
    saved_ = buffer_[zero_at_];
    buffer_[zero_at_] = '\0';
    zero_set_ = true;
    const char* piece = buffer_.get() + begin_;
    begin_ += length;
    consumed_ += length;
    return piece;
  }

  std::size_t block_;
  ScanWidth width_;
  // block_ + kLineBufferSize: a partial piece and a whole block. Left
  // uninitialised: zeroing it would touch every page of it at each start,
  // also for an input of a few lines.
  std::unique_ptr<char[]> buffer_;
  port::BlockReader input_;
  bool reading_ = false;
  std::size_t begin_ = 0, end_ = 0;  // the bytes read and not yet given out
  bool at_end_ = false, failed_ = false;
  std::size_t consumed_ = 0;
  // The byte the last piece's terminating zero stands on.
  std::size_t zero_at_ = 0;
  char saved_ = 0;
  bool zero_set_ = false;
};

}  // namespace skim
