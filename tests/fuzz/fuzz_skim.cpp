// skim's input handling takes any bytes:
//  - the block reader cuts them into exactly the pieces fgets gives, whatever
//    the block size, and passes over only pieces that are not kept lines,
//    with each of its skipping loops that this processor runs; in
//    text mode, the pieces fgets gives once every CR before an LF is gone;
//  - the line rules read nothing beyond a piece and keep their promises: no
//    more lines than the limit, a marker after every cut, a budget that never
//    stays above its bound.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tools/skim/lines.h"
#include "tools/skim/pieces.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

// A file holding the bytes, read from its start (the reader reads the
// descriptor itself: a memory stream has none).
std::FILE* open_bytes(const uint8_t* data, size_t size) {
  std::FILE* file = std::tmpfile();
  check(file != nullptr);
  check(std::fwrite(data, 1, size, file) == size);
  check(std::fflush(file) == 0);
  std::rewind(file);
  return file;
}

// The bytes with every CR that stands right before an LF dropped.
std::vector<uint8_t> text_mode(const uint8_t* data, size_t size) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\r' && i + 1 < size && data[i + 1] == '\n') continue;
    out.push_back(data[i]);
  }
  return out;
}

// The reader against fgets on the same bytes (in text mode on the bytes as
// text mode reads them). Returns the pieces.
std::vector<std::vector<char>> check_reader(const uint8_t* data, size_t size, std::size_t block,
                                            bool kept_only, bool text,
                                            skim::ScanWidth width = skim::widest_scan_width()) {
  const std::vector<uint8_t> folded = text ? text_mode(data, size) : std::vector<uint8_t>(data, data + size);
  std::FILE* reference = open_bytes(folded.data(), folded.size());
  std::FILE* input = open_bytes(data, size);
  skim::PieceReader reader(block, width);
  reader.start(input, text);
  std::vector<std::vector<char>> pieces;
  char expected[skim::kLineBufferSize];
  for (;;) {
    const char* piece = kept_only ? reader.next_kept_line() : reader.next();
    // The reference piece: the next one fgets gives (the next kept one).
    const char* want = nullptr;
    while ((want = std::fgets(expected, sizeof expected, reference)) != nullptr) {
      if (!kept_only || skim::is_kept_line(expected)) break;
    }
    if (want == nullptr) {
      check(piece == nullptr && !reader.failed());
      check(reader.consumed() == folded.size());
      break;
    }
    check(piece != nullptr);
    check(std::strcmp(piece, want) == 0);
    check(static_cast<long>(reader.consumed()) == std::ftell(reference));
    pieces.emplace_back(piece, piece + std::strlen(piece) + 1);
  }
  std::fclose(reference);
  std::fclose(input);
  return pieces;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first byte chooses a block size, small ones included, so that pieces
  // (and CR LF pairs) straddle block ends, and the mode.
  const std::size_t block = size > 0 ? 2 + (data[0] >> 1) * 37u : skim::PieceReader::kDefaultBlock;
  const bool text = size > 0 && (data[0] & 1) != 0;
  const std::vector<std::vector<char>> pieces = check_reader(data, size, block, false, text);
  for (skim::ScanWidth width = skim::ScanWidth::k16; width <= skim::widest_scan_width();
       width = static_cast<skim::ScanWidth>(static_cast<int>(width) + 1)) {
    check_reader(data, size, block, true, text, width);
  }

  skim::LineHandler handler;
  for (const std::vector<char>& stored : pieces) {
    // A buffer of exactly the piece and its terminating zero, so that the
    // sanitizer sees any read beyond it.
    const char* line = stored.data();
    const bool kept = skim::is_kept_line(line);
    const bool was_skipping = handler.skipping();
    const int before = handler.lines_written();
    const skim::Verdict verdict = handler.handle(line);

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
