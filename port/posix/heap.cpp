// The private heap on POSIX: an arena of our own. Blocks are carved from
// zero-filled chunks; a chunk that is full is followed by a larger one, and
// only the whole arena is ever released.
#include "port/heap.h"

#include <cstdint>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define LORVEX_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define LORVEX_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
// A gap after every block, so that the address checker sees a block's
// overrun even though its neighbour lives in the same chunk.
constexpr std::size_t kRedZone = 32;
#else
#define LORVEX_POISON(p, n) ((void)(p), (void)(n))
#define LORVEX_UNPOISON(p, n) ((void)(p), (void)(n))
constexpr std::size_t kRedZone = 0;
#endif

namespace port {

namespace {

constexpr std::size_t kAlign = alignof(std::max_align_t);

struct Chunk {
  Chunk* next;
  std::size_t capacity;  // bytes of data after the header
  std::size_t used;
};

constexpr std::size_t round_up(std::size_t n) { return (n + kAlign - 1) / kAlign * kAlign; }

constexpr std::size_t kHeader = round_up(sizeof(Chunk));

unsigned char* data_of(Chunk* chunk) { return reinterpret_cast<unsigned char*>(chunk) + kHeader; }

// Null when the size cannot be had (including a size whose header would
// overflow the address range).
Chunk* new_chunk(std::size_t capacity) {
  if (capacity > SIZE_MAX - kHeader) return nullptr;
  void* memory = std::calloc(1, kHeader + capacity);
  if (memory == nullptr) return nullptr;
  Chunk* chunk = new (memory) Chunk{nullptr, capacity, 0};
  LORVEX_POISON(data_of(chunk), capacity);
  return chunk;
}

void free_chunk(Chunk* chunk) {
  LORVEX_UNPOISON(data_of(chunk), chunk->capacity);
  std::free(chunk);
}

}  // namespace

class PrivateHeap {
 public:
  explicit PrivateHeap(Chunk* first) : head_(first), next_capacity_(first->capacity) {}
  PrivateHeap(const PrivateHeap&) = delete;
  PrivateHeap& operator=(const PrivateHeap&) = delete;
  ~PrivateHeap() {
    while (head_ != nullptr) {
      Chunk* next = head_->next;
      free_chunk(head_);
      head_ = next;
    }
  }

  void* allocate(std::size_t size) {
    if (size > SIZE_MAX - kAlign - kRedZone) return nullptr;
    // A zero-byte request still gets a block of its own.
    const std::size_t need = round_up((size == 0 ? 1 : size) + kRedZone);
    if (head_->capacity - head_->used < need) {
      // Each new chunk at least doubles, so that many small requests cost
      // few chunks; a request larger than that gets a chunk of its size.
      if (next_capacity_ <= SIZE_MAX / 2) next_capacity_ *= 2;
      Chunk* chunk = new_chunk(need > next_capacity_ ? need : next_capacity_);
      if (chunk == nullptr) return nullptr;
      chunk->next = head_;
      head_ = chunk;
    }
    unsigned char* block = data_of(head_) + head_->used;
    head_->used += need;
    LORVEX_UNPOISON(block, size);
    return block;
  }

 private:
  Chunk* head_;
  std::size_t next_capacity_;
};

PrivateHeap* heap_create(std::size_t initial_size) {
  Chunk* first = new_chunk(round_up(initial_size == 0 ? kAlign : initial_size));
  if (first == nullptr) return nullptr;
  PrivateHeap* heap = new (std::nothrow) PrivateHeap(first);
  if (heap == nullptr) free_chunk(first);
  return heap;
}

void* heap_alloc_zeroed(PrivateHeap* heap, std::size_t size) {
  return heap != nullptr ? heap->allocate(size) : nullptr;
}

void heap_destroy(PrivateHeap* heap) { delete heap; }

}  // namespace port
