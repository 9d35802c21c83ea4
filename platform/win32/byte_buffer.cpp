#include "byte_buffer.h"

#include <new>

namespace platform {

// A plain allocation: large pages on Windows need a privilege (locking pages
// in memory) that a desktop program does not hold.
ByteBuffer::ByteBuffer(std::size_t size) {
  data_ = new (std::nothrow) char[size == 0 ? 1 : size];
  if (data_ != nullptr) size_ = size;
}

void ByteBuffer::Release() {
  delete[] data_;
  data_ = nullptr;
  size_ = 0;
}

}  // namespace platform
