#pragma once
// A private heap: growable, zero-filled blocks that are never freed one by
// one; the whole heap, with every block in it, is released at once.
#include <cstddef>

namespace port {

class PrivateHeap;

// Creates a heap that starts with room for initial_size bytes and grows
// without limit. Null when it cannot be created.
PrivateHeap* heap_create(std::size_t initial_size);

// A zero-filled block of size bytes, aligned for any object; null when the
// heap cannot supply it.
void* heap_alloc_zeroed(PrivateHeap* heap, std::size_t size);

// Releases the heap and every block taken from it.
void heap_destroy(PrivateHeap* heap);

}  // namespace port
