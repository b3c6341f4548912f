// The bitstream of TwinVQ frames: every frame has exactly StreamSetup::frameBits() bits,
// fields most significant bit first, frames back to back with no padding. The field order
// is that of the frame records the VQF plug-in writes: window type, main pairs, bark
// values, bark history flags, gains (each channel's gain then its sub-block gains), LSP
// indices per channel (history, first stage, splits), and in long frames the peak shape
// pairs, then each channel's peak period and gain.
//
// Stable interface: the encoder library builds on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "frame_values.h"
#include "stream_setup.h"

namespace twinvq {

class BitWriter {
 public:
  // Appends the low `width` (0..32) bits of value.
  void Put(uint32_t value, int32_t width);
  int64_t bitCount() const { return bitCount_; }
  // The bytes so far; the last one padded with zero bits.
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  int64_t bitCount_ = 0;
};

class BitReader {
 public:
  // Reads from bit `startBit` of data (most significant bit of data[0] is bit 0).
  BitReader(const uint8_t* data, size_t byteCount, int64_t startBit = 0)
      : data_(data), bitsLeft_(int64_t(byteCount) * 8), position_(startBit) {}
  // Reads `width` (0..32) bits; false (value 0) when fewer are left.
  bool Get(int32_t width, int32_t* value) {
    // Where eight whole bytes follow the current one: one big-endian load holds the field
    // (at most 7 + 32 bits), shifted down to its place.
    const int64_t byte = position_ >> 3;
    if (width > 0 && byte + 8 <= bitsLeft_ / 8) {
      uint64_t window = 0;
      for (int32_t i = 0; i < 8; ++i) window = window << 8 | data_[byte + i];
      const int32_t used = static_cast<int32_t>(position_ & 7);
      *value = static_cast<int32_t>((window << used) >> (64 - width));
      position_ += width;
      return true;
    }
    return GetByBytes(width, value);
  }
  int64_t position() const { return position_; }
  // Bits from the current position to the end of the data.
  int64_t bitsAhead() const { return bitsLeft_ - position_; }
  // The data's bytes from the one holding the current position, and the bit of that byte.
  const uint8_t* here() const { return data_ + (position_ >> 3); }
  int32_t bitOfByte() const { return static_cast<int32_t>(position_ & 7); }
  // Moves on `bits` bits (at most bitsAhead()).
  void Skip(int64_t bits) { position_ += bits; }

 private:
  bool GetByBytes(int32_t width, int32_t* value);
  const uint8_t* data_;
  int64_t bitsLeft_;
  int64_t position_ = 0;
};

// Writes one frame. Values are written modulo their field widths; check them first with
// ValuesFitFields. Writes exactly setup.frameBits() bits.
void WriteFrame(const StreamSetup& setup, const FrameValues& values, BitWriter* out);

// Reads one frame. False when the window type is 9..15 or the data ends inside the frame.
bool ReadFrame(const StreamSetup& setup, BitReader* in, FrameValues* values);

}  // namespace twinvq
