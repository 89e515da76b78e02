#include "src/common/util/runtime_alloc.h"

#include <cstdlib>

#include "port/heap.h"

namespace {

constexpr std::size_t kInitialHeapSize = 262144;

port::PrivateHeap* private_heap;

void release_private_heap() {
  port::heap_destroy(private_heap);
  private_heap = nullptr;
}

}  // namespace

void* runtime_alloc(std::size_t size) {
  if (private_heap == nullptr) {
    private_heap = port::heap_create(kInitialHeapSize);
    if (private_heap == nullptr) return nullptr;
    std::atexit(release_private_heap);
  }
  return port::heap_alloc_zeroed(private_heap, size);
}
