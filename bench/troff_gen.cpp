#include "bench/troff_gen.h"

#include <cstdint>
#include <string>

namespace bench {

namespace {

// Deterministic, so that every run measures the same document.
class Random {
 public:
  std::uint32_t next() {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<std::uint32_t>(state_ >> 33);
  }
  std::uint32_t below(std::uint32_t n) { return next() % n; }

 private:
  std::uint64_t state_ = 0x5EED;
};

const char* const kWords[] = {"gatherer", "index", "summary", "document", "cycle", "the",
                              "of", "and", "database", "request", "server", "a", "page",
                              "search", "template", "with", "is", "dump", "for", "text"};
constexpr int kWordCount = sizeof kWords / sizeof kWords[0];

// Shift_JIS text with an ideographic full stop (0x81 0x42) at its end.
const char kJapaneseLine[] =
    "\x8c\x9f\x8d\xf5\x83\x54\x81\x5b\x83\x6f\x82\xcd\x8f\xee\x95\xf1\x82\xf0"
    "\x8e\xfb\x8f\x57\x82\xb5\x82\xdc\x82\xb7\x81\x42\n";

// Paragraphs per document: each leaves three counted lines (and a marker) in
// the abstract, which ends after 512 lines.
constexpr int kParagraphs = 100;

// Appends `words` words separated by blanks.
void add_text(Random& random, std::string& line, int words) {
  for (int i = 0; i < words; ++i) {
    if (i > 0) line += ' ';
    line += kWords[random.below(kWordCount)];
  }
}

}  // namespace

int write_troff(std::FILE* out, long long bytes) {
  Random random;
  const long long per_paragraph = bytes / kParagraphs;
  std::string chunk;
  long long written = 0;
  for (int paragraph = 0; paragraph < kParagraphs; ++paragraph) {
    chunk += ".SH SECTION " + std::to_string(paragraph) + "\n.PP\n";
    std::string first;
    add_text(random, first, 8);
    first += ".  ";
    add_text(random, first, 5);
    chunk += first + "\n";
    const long long end = per_paragraph * (paragraph + 1);
    // The body: prose, font requests and Japanese lines, all of it dropped.
    while (written + static_cast<long long>(chunk.size()) < end) {
      const std::uint32_t kind = random.below(10);
      if (kind == 0) {
        chunk += ".I ";
        chunk += kWords[random.below(kWordCount)];
        chunk += '\n';
      } else if (kind == 1) {
        chunk += kJapaneseLine;
      } else {
        std::string line;
        add_text(random, line, 6 + static_cast<int>(random.below(8)));
        line += random.below(3) == 0 ? ".\n" : "\n";
        chunk += line;
      }
      if (chunk.size() >= (1u << 20)) {
        if (std::fwrite(chunk.data(), 1, chunk.size(), out) != chunk.size()) return -1;
        written += static_cast<long long>(chunk.size());
        chunk.clear();
      }
    }
  }
  if (std::fwrite(chunk.data(), 1, chunk.size(), out) != chunk.size()) return -1;
  return std::fflush(out) == 0 ? 0 : -1;
}

}  // namespace bench
