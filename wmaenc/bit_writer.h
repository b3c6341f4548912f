// Bits most significant first, as the decoder reads them; and a counter with the same
// interface, so one routine both sizes a frame and writes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace wmaenc {

class BitCounter {
 public:
  void Put(uint32_t, int32_t bits) { count_ += bits; }
  int64_t Count() const { return count_; }

 private:
  int64_t count_ = 0;
};

class BitWriter {
 public:
  // value's low `bits` bits (at most 32).
  void Put(uint32_t value, int32_t bits) {
    for (int32_t i = bits - 1; i >= 0; --i) PutBit((value >> i) & 1u);
  }
  void PutBit(uint32_t bit) {
    if ((count_ & 7) == 0) bytes_.push_back(0);
    if (bit) bytes_.back() |= static_cast<uint8_t>(0x80u >> (count_ & 7));
    ++count_;
  }
  // Bits [from, from + n) of another writer.
  void Append(const BitWriter& other, int64_t from, int64_t n) {
    for (int64_t i = from; i < from + n; ++i) PutBit(other.Bit(i));
  }
  uint32_t Bit(int64_t i) const { return (bytes_[static_cast<size_t>(i >> 3)] >> (7 - (i & 7))) & 1u; }
  int64_t Count() const { return count_; }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }
  void Clear() {
    bytes_.clear();
    count_ = 0;
  }
  void Reserve(size_t bytes) { bytes_.reserve(bytes); }

 private:
  std::vector<uint8_t> bytes_;
  int64_t count_ = 0;
};

}  // namespace wmaenc
