// The processor's features as the C library found them at the start: asking
// the processor again would cost a trip to the host in a virtual machine,
// and the compiler's own way of asking does so in every program's start.
#include "port/processor.h"

#if defined(__x86_64__) && __has_include(<sys/platform/x86.h>)
// The header is written in C; its _Bool is C++'s bool (one compiler of ours
// knows the C name in C++ too, the other does not).
#define _Bool bool
#include <sys/platform/x86.h>
#undef _Bool
#define LORVEX_X86_FEATURES 1
#endif

namespace port {

bool wide_vectors_run() {
#if defined(LORVEX_X86_FEATURES)
  return CPU_FEATURE_ACTIVE(AVX2);
#else
  return false;
#endif
}

}  // namespace port
