#pragma once
// A zero-filled, 4096-byte aligned buffer of fixed size (O_DIRECT wants the
// alignment; the transport's buffers are handed to backends as they are).

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

namespace zorv {

class AlignedBuffer {
 public:
  static constexpr size_t kAlignment = 4096;

  AlignedBuffer() = default;
  explicit AlignedBuffer(size_t size) { reset(size); }

  void reset(size_t size) {
    size_t rounded = (size + kAlignment - 1) / kAlignment * kAlignment;
    // Aligned operator new rather than aligned_alloc, which the Windows C
    // runtime lacks; it throws std::bad_alloc itself.
    void* p = rounded ? ::operator new(rounded, std::align_val_t{kAlignment}) : nullptr;
    if (p) std::memset(p, 0, rounded);
    data_.reset(static_cast<uint8_t*>(p));
    size_ = size;
  }

  uint8_t* data() { return data_.get(); }
  const uint8_t* data() const { return data_.get(); }
  size_t size() const { return size_; }
  uint8_t& operator[](size_t i) { return data_.get()[i]; }
  const uint8_t& operator[](size_t i) const { return data_.get()[i]; }
  bool empty() const { return size_ == 0; }

 private:
  struct Free {
    void operator()(uint8_t* p) const { ::operator delete(p, std::align_val_t{kAlignment}); }
  };
  std::unique_ptr<uint8_t, Free> data_;
  size_t size_ = 0;
};

}  // namespace zorv
