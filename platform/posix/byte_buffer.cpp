#include "byte_buffer.h"

#include <sys/mman.h>

#include <cstdint>
#include <new>

namespace platform {
namespace {

// Below this a plain allocation serves; above it the buffer is mapped on its
// own, aligned to the huge page size so that every whole 2 MiB of it can be
// one huge page.
constexpr std::size_t kHugePage = 2 * 1024 * 1024;

}  // namespace

ByteBuffer::ByteBuffer(std::size_t size) {
  if (size < kHugePage) {
    data_ = new (std::nothrow) char[size == 0 ? 1 : size];
    if (data_ != nullptr) size_ = size;
    return;
  }
  const std::size_t mappingSize = size + kHugePage;
  void* mapping = mmap(nullptr, mappingSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) return;
  const auto start = (reinterpret_cast<std::uintptr_t>(mapping) + kHugePage - 1) & ~(kHugePage - 1);
  // Only a hint: without huge pages the buffer works the same, only slower.
  madvise(reinterpret_cast<void*>(start), size, MADV_HUGEPAGE);
  mapping_ = mapping;
  mappingSize_ = mappingSize;
  data_ = reinterpret_cast<char*>(start);
  size_ = size;
}

void ByteBuffer::Release() {
  if (mapping_ != nullptr) {
    munmap(mapping_, mappingSize_);
  } else {
    delete[] data_;
  }
  data_ = nullptr;
  size_ = 0;
  mapping_ = nullptr;
  mappingSize_ = 0;
}

}  // namespace platform
