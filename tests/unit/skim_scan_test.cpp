// skim's skipping: each of its loops that this processor runs passes over
// exactly the pieces that are not kept lines, wherever the lines fall against
// the loops' blocks and the reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/skim/lines.h"
#include "tools/skim/pieces.h"
#include "tools/skim/scan.h"

namespace {

// The kept pieces of the bytes, cut as an fgets-style read cuts them.
std::vector<std::string> expected_kept(const std::string& bytes) {
  std::vector<std::string> kept;
  const std::size_t most = skim::kLineBufferSize - 1;
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t newline = bytes.find('\n', at);
    const std::size_t length = std::min((newline == std::string::npos ? bytes.size() : newline + 1) - at, most);
    const std::string piece = bytes.substr(at, length);
    if (skim::is_kept_line(piece.c_str())) kept.push_back(piece);
    at += length;
  }
  return kept;
}

std::vector<std::string> read_kept(const std::string& bytes, std::size_t block, skim::ScanWidth width) {
  std::FILE* file = std::tmpfile();
  EXPECT_NE(file, nullptr);
  if (file == nullptr) return {};
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::rewind(file);
  skim::PieceReader reader(block, width);
  reader.start(file, false);
  std::vector<std::string> kept;
  while (const char* piece = reader.next_kept_line()) kept.push_back(piece);
  EXPECT_FALSE(reader.failed());
  EXPECT_EQ(reader.consumed(), bytes.size());
  std::fclose(file);
  return kept;
}

// Requests kept and not kept, empty lines and a lone full stop after text
// lines of every length up to two blocks, so that each falls at every place
// of a block; lines about a piece long, and one whose second piece begins
// with a kept request; inputs ending in each of them.
std::vector<std::string> documents() {
  const char* const kinds[] = {".I a\n", ".PP\n", "\n", ".P\n", ".\n", ".SH b\n", ".Ix\n", ".lp\n"};
  std::string every_offset;
  for (int length = 0; length < 130; ++length) {
    every_offset += std::string(length, 'x') + "\n" + kinds[length % 8] + kinds[(length + 3) % 8];
  }
  std::string long_lines = ".I a\n";
  for (std::size_t length : {2045, 2046, 2047, 2048, 5000}) long_lines += std::string(length, 'y') + "\n.I b\n";
  long_lines += ".I" + std::string(2045, 'z') + ".PP and the rest\n.I c\ntext\n";
  std::vector<std::string> all = {every_offset, long_lines};
  for (const char* end : {".P", "\n.", "x\n\n", ".I", "\n"}) all.push_back(every_offset + end);
  return all;
}

TEST(SkimScan, EveryLoopPassesOverExactlyThePiecesThatAreNotKept) {
  for (const std::string& document : documents()) {
    const std::vector<std::string> expected = expected_kept(document);
    for (std::size_t block : {64, 65, 100, 4096, static_cast<int>(skim::PieceReader::kDefaultBlock)}) {
      for (int width = 0; width <= static_cast<int>(skim::widest_scan_width()); ++width) {
        EXPECT_EQ(read_kept(document, block, static_cast<skim::ScanWidth>(width)), expected)
            << "block " << block << ", loop " << width << ", document of " << document.size() << " bytes";
      }
    }
  }
}

}  // namespace
