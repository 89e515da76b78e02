// The loop with 32-byte vectors: built for processors that have them, run
// only where the processor says it has them.
#include "tools/skim/scan_loop.h"

namespace skim {

#if defined(__AVX2__)

namespace {

// Two vectors of 32 bytes.
struct Lanes : Vectors<32> {
  static std::uint64_t mask(Bytes matches) {
    return static_cast<std::uint32_t>(__builtin_ia32_pmovmskb256(matches));
  }

  static Any any(const char* p) {
    return {__builtin_ia32_pmovmskb256(newlines(p) | newlines(p + 32)),
            __builtin_ia32_pmovmskb256(candidates(p) | candidates(p + 32))};
  }
  static Masks masks(const char* p) {
    return {mask(newlines(p)) | mask(newlines(p + 32)) << 32, mask(candidates(p)) | mask(candidates(p + 32)) << 32};
  }
};

}  // namespace

bool avx2_built() { return true; }
const char* pass_unkept_candidates_avx2(const char* at, const char* end) { return pass_with<Lanes>(at, end); }

#else

bool avx2_built() { return false; }
const char* pass_unkept_candidates_avx2(const char* at, const char*) { return at; }

#endif

}  // namespace skim
