// The loop with the vectors every processor of the targets has, and the
// choice of the widest one this processor runs.
#include "tools/skim/scan.h"

#include "port/processor.h"
#include "tools/skim/scan_loop.h"

namespace skim {

// Built with the wider vectors (scan_avx2.cpp) where the compiler can.
const char* pass_unkept_candidates_avx2(const char* at, const char* end);
bool avx2_built();

namespace {

#if defined(__SSE2__)
// Four vectors of 16 bytes.
struct Lanes : Vectors<16> {
  static int mask(Bytes matches) { return __builtin_ia32_pmovmskb128(matches); }

  static Any any(const char* p) {
    return {mask(newlines(p) | newlines(p + 16) | newlines(p + 32) | newlines(p + 48)),
            mask(candidates(p) | candidates(p + 16) | candidates(p + 32) | candidates(p + 48))};
  }
  static Masks masks(const char* p) {
    Masks masks{0, 0};
    for (int i = 0; i < 64; i += 16) {
      masks.newlines |= static_cast<std::uint64_t>(static_cast<std::uint16_t>(mask(newlines(p + i)))) << i;
      masks.candidates |= static_cast<std::uint64_t>(static_cast<std::uint16_t>(mask(candidates(p + i)))) << i;
    }
    return masks;
  }
};
#else
// Byte by byte, where there are no vectors the compiler is known to take.
struct Lanes {
  struct Any {
    std::uint64_t newlines;
    std::uint64_t candidates;
  };
  static Masks masks(const char* p) {
    Masks masks{0, 0};
    for (int i = 0; i < 64; ++i) {
      const std::uint64_t bit = std::uint64_t{1} << i;
      if (p[i] != '\n') continue;
      masks.newlines |= bit;
      if (p[i + 1] == '\n' || p[i + 1] == '.') masks.candidates |= bit;
    }
    return masks;
  }
  static Any any(const char* p) {
    const Masks m = masks(p);
    return {m.newlines, m.candidates};
  }
};
#endif

}  // namespace

ScanWidth widest_scan_width() {
  static const ScanWidth widest = avx2_built() && port::wide_vectors_run() ? ScanWidth::k32 : ScanWidth::k16;
  return widest;
}

const char* pass_unkept_candidates(ScanWidth width, const char* at, const char* end) {
  return width == ScanWidth::k32 ? pass_unkept_candidates_avx2(at, end) : pass_with<Lanes>(at, end);
}

}  // namespace skim
