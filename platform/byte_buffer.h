#pragma once
#include <cstddef>
#include <string_view>
#include <utility>

namespace platform {

// Memory for a large output that is written once, such as a mail body's
// encoding: not filled beforehand, and where the system offers them backed by
// huge pages, which spares the page fault that every 4 KiB of fresh memory
// would otherwise cost.
class ByteBuffer {
 public:
  ByteBuffer() = default;
  // size bytes; an empty buffer when they cannot be had.
  explicit ByteBuffer(std::size_t size);
  ~ByteBuffer() { Release(); }
  ByteBuffer(ByteBuffer&& other) noexcept { Swap(other); }
  ByteBuffer& operator=(ByteBuffer&& other) noexcept {
    if (this != &other) {
      Release();
      Swap(other);
    }
    return *this;
  }
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;

  char* data() { return data_; }
  const char* data() const { return data_; }
  std::size_t size() const { return size_; }
  std::string_view view() const { return {data_, size_}; }

 private:
  // Gives the memory back and leaves the buffer empty.
  void Release();
  void Swap(ByteBuffer& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(mapping_, other.mapping_);
    std::swap(mappingSize_, other.mappingSize_);
  }

  char* data_ = nullptr;
  std::size_t size_ = 0;
  void* mapping_ = nullptr;  // what the system gave, when it was mapped
  std::size_t mappingSize_ = 0;
};

}  // namespace platform
