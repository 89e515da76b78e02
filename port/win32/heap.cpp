// The private heap on Windows: the system's own growable heap.
#include "port/heap.h"

#include <windows.h>

namespace port {

// The opaque type stands for the heap's handle.
class PrivateHeap;

PrivateHeap* heap_create(std::size_t initial_size) {
  // A maximum size of 0 makes the heap growable.
  return reinterpret_cast<PrivateHeap*>(HeapCreate(0, initial_size, 0));
}

void* heap_alloc_zeroed(PrivateHeap* heap, std::size_t size) {
  if (heap == nullptr) return nullptr;
  return HeapAlloc(reinterpret_cast<HANDLE>(heap), HEAP_ZERO_MEMORY, size);
}

void heap_destroy(PrivateHeap* heap) {
  if (heap != nullptr) HeapDestroy(reinterpret_cast<HANDLE>(heap));
}

}  // namespace port
