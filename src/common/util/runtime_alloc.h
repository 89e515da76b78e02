#pragma once
// Zero-filled blocks from the summarizers' private heap. The heap comes into
// being on the first call and is released, with every block, at exit; blocks
// are never freed one by one.
#include <cstddef>

// Null when the heap cannot be created (the next call tries again) or the
// block cannot be had.
void* runtime_alloc(std::size_t size);
