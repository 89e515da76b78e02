// The processor's features as the system reports them.
#include "port/processor.h"

#include <windows.h>

namespace port {

bool wide_vectors_run() { return IsProcessorFeaturePresent(PF_AVX2_INSTRUCTIONS_AVAILABLE) != 0; }

}  // namespace port
