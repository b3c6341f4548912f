// Frame bitstream writer and reader.
#include "frame_bits.h"

#include <algorithm>

namespace twinvq {

void BitWriter::Put(uint32_t value, int32_t width) {
  for (int32_t i = width - 1; i >= 0; --i) {
    if (bitCount_ % 8 == 0) bytes_.push_back(0);
    if ((value >> i) & 1u) bytes_.back() |= static_cast<uint8_t>(0x80u >> (bitCount_ % 8));
    ++bitCount_;
  }
}

bool BitReader::GetByBytes(int32_t width, int32_t* value) {
  *value = 0;
  if (width > bitsLeft_ - position_) return false;
  // A byte's worth (or what is left of the byte) at a time, most significant bit first.
  uint32_t v = 0;
  for (int32_t left = width; left > 0;) {
    const int32_t used = static_cast<int32_t>(position_ & 7);
    const int32_t take = left < 8 - used ? left : 8 - used;
    const uint32_t byte = data_[position_ >> 3];
    v = (v << take) | ((byte >> (8 - used - take)) & ((1u << take) - 1u));
    left -= take;
    position_ += take;
  }
  *value = static_cast<int32_t>(v);
  return true;
}

namespace {

// Visits every field of a frame in stream order with its width; the visitor gets a
// reference to the value, so one walk serves both writing and reading.
template <typename Visit>
bool WalkFrame(const StreamSetup& setup, BlockKind kind, FrameValues& v, Visit visit) {
  const RateMode& m = setup.mode();
  const BlockTables& b = m.block[kind];
  const int32_t channels = setup.channels();
  const VectorPart& main = setup.part(kind);
  for (int32_t i = 0; i < main.pairs; ++i) {
    if (!visit(v.main[i][0], main.FirstBits(i)) || !visit(v.main[i][1], main.SecondBits(i))) {
      return false;
    }
  }
  for (int32_t ch = 0; ch < channels; ++ch) {
    for (int32_t s = 0; s < b.subBlocks; ++s) {
      for (int32_t k = 0; k < b.barkValues; ++k) {
        if (!visit(v.bark[ch][s][k], b.barkBits)) return false;
      }
    }
  }
  for (int32_t ch = 0; ch < channels; ++ch) {
    for (int32_t s = 0; s < b.subBlocks; ++s) {
      if (!visit(v.barkHistory[ch][s], 1)) return false;
    }
  }
  for (int32_t ch = 0; ch < channels; ++ch) {
    if (!visit(v.gain[ch], kGainBits)) return false;
    if (kind == kLongBlock) continue;
    for (int32_t s = 0; s < b.subBlocks; ++s) {
      if (!visit(v.subGain[ch][s], kSubGainBits)) return false;
    }
  }
  for (int32_t ch = 0; ch < channels; ++ch) {
    if (!visit(v.lspHistory[ch], m.lsp0Bits) || !visit(v.lspFirst[ch], m.lsp1Bits)) return false;
    for (int32_t s = 0; s < m.lspSplits; ++s) {
      if (!visit(v.lspSecond[ch][s], m.lsp2Bits)) return false;
    }
  }
  if (kind != kLongBlock) return true;
  const VectorPart& peak = setup.part(kPeakPart);
  for (int32_t i = 0; i < peak.pairs; ++i) {
    if (!visit(v.peak[i][0], peak.FirstBits(i)) || !visit(v.peak[i][1], peak.SecondBits(i))) {
      return false;
    }
  }
  for (int32_t ch = 0; ch < channels; ++ch) {
    if (!visit(v.peakPeriod[ch], m.peakPeriodBits) || !visit(v.peakGain[ch], m.peakGainBits)) {
      return false;
    }
  }
  return true;
}

}  // namespace

void WriteFrame(const StreamSetup& setup, const FrameValues& values, BitWriter* out) {
  const int64_t start = out->bitCount();
  const int32_t windowType = values.windowType & 15;
  out->Put(static_cast<uint32_t>(windowType), kWindowTypeBits);
  // A window type of 9..15 has no layout; the rest of such a frame is zero bits.
  if (windowType < kWindowTypeCount) {
    FrameValues copy = values;
    WalkFrame(setup, copy.kind(), copy, [out](int32_t& value, int32_t width) {
      out->Put(static_cast<uint32_t>(value), width);
      return true;
    });
  }
  while (out->bitCount() - start < setup.frameBits()) out->Put(0, 1);
}

namespace {

// Fields of a frame whose bytes are all in memory, with four more after them: each field of
// up to 25 bits from one 32-bit big-endian load, the bit position counted from the frame's
// first byte in 32 bits (the frame reader's 64-bit position costs most in 32-bit builds).
class FrameFieldReader {
 public:
  FrameFieldReader(const uint8_t* bytes, int32_t firstBit) : bytes_(bytes), bit_(uint32_t(firstBit)) {}
  bool Get(int32_t width, int32_t* value) {
    if (width > 25) {
      int32_t high, low;
      Get(width - 16, &high);
      Get(16, &low);
      *value = static_cast<int32_t>(uint32_t(high) << 16 | uint32_t(low));
      return true;
    }
    const uint8_t* at = bytes_ + (bit_ >> 3);
    const uint32_t word = uint32_t(at[0]) << 24 | uint32_t(at[1]) << 16 | uint32_t(at[2]) << 8 | at[3];
    *value = width > 0 ? static_cast<int32_t>((word << (bit_ & 7)) >> (32 - width)) : 0;
    bit_ += uint32_t(width);
    return true;
  }
  uint32_t bit() const { return bit_; }

 private:
  const uint8_t* bytes_;
  uint32_t bit_;
};

}  // namespace

bool ReadFrame(const StreamSetup& setup, BitReader* in, FrameValues* values) {
  *values = FrameValues{};
  if (in->bitsAhead() >= int64_t(setup.frameBits()) + 8 + 32) {
    FrameFieldReader fields(in->here(), in->bitOfByte());
    fields.Get(kWindowTypeBits, &values->windowType);
    if (values->windowType >= kWindowTypeCount) {
      in->Skip(kWindowTypeBits);
      return false;
    }
    WalkFrame(setup, values->kind(), *values,
              [&fields](int32_t& value, int32_t width) { return fields.Get(width, &value); });
    // Every layout fills the frame exactly; a longer walk of a malformed setup stays where
    // it ended, as below.
    const uint32_t used = fields.bit() - uint32_t(in->bitOfByte());
    in->Skip(std::max<int64_t>(used, setup.frameBits()));
    return true;
  }
  const int64_t start = in->position();
  if (!in->Get(kWindowTypeBits, &values->windowType)) return false;
  if (values->windowType >= kWindowTypeCount) return false;
  if (!WalkFrame(setup, values->kind(), *values,
                 [in](int32_t& value, int32_t width) { return in->Get(width, &value); })) {
    return false;
  }
  // Every layout fills the frame exactly; this only skips bits of a malformed setup.
  int32_t unused;
  while (in->position() - start < setup.frameBits()) {
    if (!in->Get(1, &unused)) return false;
  }
  return true;
}

}  // namespace twinvq
