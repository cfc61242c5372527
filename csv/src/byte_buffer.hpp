// ByteBuffer: a growable run of bytes that writers fill in place (reserve room, write, commit).
#pragma once

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

namespace csv::detail {

// Unlike std::string, room can be taken without zero-filling it, and growth uses realloc, which
// moves large blocks by remapping pages instead of copying them. Not thread-safe.
class ByteBuffer {
 public:
  ByteBuffer() = default;
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;
  ~ByteBuffer() { std::free(data_); }

  std::string_view view() const { return {data_, size_}; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  void clear() { size_ = 0; }
  // Drops the bytes from `size` on; `size` must not exceed size().
  void truncate(std::size_t size) { size_ = size; }

  // Room for at least `n` more bytes, starting at the returned pointer; valid until the next
  // call that can grow the buffer. commit(k) then makes the first k of them part of the buffer.
  char* reserve(std::size_t n) {
    if (capacity_ - size_ < n) grow(n);
    return data_ + size_;
  }
  void commit(std::size_t n) { size_ += n; }

  void append(std::string_view bytes) {
    if (bytes.empty()) return;
    std::memcpy(reserve(bytes.size()), bytes.data(), bytes.size());
    size_ += bytes.size();
  }

 private:
  void grow(std::size_t n) {
    const std::size_t capacity = std::max({capacity_ * 2, size_ + n, std::size_t{4096}});
    void* data = std::realloc(data_, capacity);
    if (data == nullptr) throw std::bad_alloc();
    data_ = static_cast<char*>(data);
    capacity_ = capacity;
  }

  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace csv::detail
