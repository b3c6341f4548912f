#include "stream_setup.h"

#include <algorithm>
#include <cmath>

#include "tables.h"

namespace wmaenc {
namespace {

int32_t FrameLengthBits(int32_t rate) {
  if (rate <= 16000) return 9;
  if (rate <= 22050) return 10;
  return 11;
}

// The rate class the decoder's noise-coding and table choices go by.
int32_t RateClass(int32_t rate) {
  if (rate >= 44100) return 44100;
  if (rate >= 22050) return 22050;
  if (rate >= 16000) return 16000;
  if (rate >= 11025) return 11025;
  if (rate >= 8000) return 8000;
  return rate;
}

int32_t FloorLog2(int32_t v) {
  int32_t n = 0;
  while (v > 1) {
    v >>= 1;
    ++n;
  }
  return n;
}

// Upper edge of the coded spectrum and whether the decoder adds noise, from bits per
// sample (bps) as the decoder computes it; the fraction of the Nyquist frequency.
double HighFrequencyShare(int32_t rateClass, float bps, float bps1, bool* noise) {
  *noise = true;
  switch (rateClass) {
    case 44100:
      if (bps1 >= 0.61f) *noise = false;
      return 0.4;
    case 22050:
      if (bps1 >= 1.16f) *noise = false;
      return bps1 >= 0.72f ? 0.7 : 0.6;
    case 16000: return bps > 0.5f ? 0.5 : 0.3;
    case 11025: return 0.7;
    case 8000:
      if (bps > 0.75f) *noise = false;
      return bps <= 0.625f ? 0.5 : 0.65;
    default: return bps >= 0.8f ? 0.75 : (bps >= 0.6f ? 0.6 : 0.5);
  }
}

// Bands of the block of size index k: the fixed layouts for the short blocks of rates from
// 22050 Hz, else bands on the critical frequencies with edges on multiples of four.
void SetBands(const StreamSetup& s, int32_t k, BlockLayout* b) {
  b->length = s.frameLength >> k;
  const int32_t row = s.frameLengthBits - 7 - k;
  const uint8_t* fixed = row < 3 ? FixedExponentBands(s.sampleRate, row) : nullptr;
  if (fixed) {
    b->bandCount = fixed[0];
    for (int32_t i = 0; i < b->bandCount; ++i) b->bandWidths[i] = fixed[i + 1];
    return;
  }
  const uint16_t* edges = CriticalFrequencies();
  int32_t count = 0, last = 0;
  for (int32_t i = 0; i < 25; ++i) {
    int32_t pos = ((b->length * 2 * edges[i]) + (s.sampleRate << 1)) / (4 * s.sampleRate);
    pos <<= 2;
    if (pos > b->length) pos = b->length;
    if (pos > last) b->bandWidths[count++] = pos - last;
    if (pos >= b->length) break;
    last = pos;
  }
  b->bandCount = count;
}

void SetHighBands(BlockLayout* b) {
  int32_t count = 0, pos = 0;
  for (int32_t i = 0; i < b->bandCount; ++i) {
    int32_t start = pos;
    pos += b->bandWidths[i];
    int32_t end = pos;
    if (start < b->highBandStart) start = b->highBandStart;
    if (end > b->codedEnd) end = b->codedEnd;
    if (end > start && count < kMaxHighBands) {
      b->highBandFirst[count] = start;
      b->highBandOwner[count] = i;
      b->highBandWidths[count++] = end - start;
    }
  }
  b->highBandCount = count;
}

}  // namespace

bool MakeStreamSetup(int32_t sampleRate, int32_t channels, int32_t bitRate, StreamSetup* setup) {
  if (sampleRate <= 0 || sampleRate > 50000 || channels < 1 || channels > 2 || bitRate <= 0)
    return false;
  StreamSetup s;
  s.sampleRate = sampleRate;
  s.channels = channels;
  s.bitRate = bitRate;
  s.frameLengthBits = FrameLengthBits(sampleRate);
  s.frameLength = 1 << s.frameLengthBits;
  s.flags = kFlagExponentVlc | kFlagBitReservoir | kFlagVariableBlocks | kFlagMoreBlockSizes;
  // The decoder's count of sizes: from the flags, two more from 32 kbit/s per channel,
  // none shorter than 128 samples.
  int32_t more = ((s.flags >> 3) & 3) + 1;
  if (bitRate / channels >= 32000) more += 2;
  more = std::min(more, s.frameLengthBits - 7);
  s.blockSizes = more + 1;
  s.blockSizeBits = FloorLog2(s.blockSizes - 1) + 1;
  s.shortSize = std::min(3, s.blockSizes - 1);

  // The decoder computes these in single precision; so do we.
  const float bps = static_cast<float>(bitRate) / static_cast<float>(channels * sampleRate);
  const float bps1 = channels == 2 ? bps * 1.6f : bps;
  const int32_t frameBytes = static_cast<int32_t>(bps * s.frameLength / 8.0 + 0.5);
  if (frameBytes < 1) return false;
  s.byteOffsetBits = FloorLog2(frameBytes) + 2;
  if (s.byteOffsetBits + 3 > 25) return false;

  const int32_t rateClass = RateClass(sampleRate);
  const double share = HighFrequencyShare(rateClass, bps, bps1, &s.noiseCoding);
  const float highFrequency = static_cast<float>(sampleRate * 0.5 * (s.noiseCoding ? share : 1.0));
  for (int32_t k = 0; k < s.blockSizes; ++k) {
    BlockLayout& b = s.layout[k];
    SetBands(s, k, &b);
    b.codedEnd = (s.frameLength - (s.frameLength * 9) / 100) >> k;
    b.highBandStart = static_cast<int32_t>((b.length * 2 * highFrequency) / sampleRate + 0.5);
    SetHighBands(&b);
  }

  s.coefTable = 2;
  if (sampleRate >= 32000) {
    if (bps1 < 0.72f) s.coefTable = 0;
    else if (bps1 < 1.16f) s.coefTable = 1;
  }

  // A packet of two frames' worth of the bit rate: a frame may cross into the next.
  const int64_t packetBits = static_cast<int64_t>(bitRate) * 2 * s.frameLength / sampleRate;
  s.packetBytes = static_cast<int32_t>((packetBits + 4) / 8);
  if (s.packetBytes * 8 <= PacketHeaderBits(s) + 64 || s.packetBytes > 32768) return false;

  const uint32_t samplesPerBlock = static_cast<uint32_t>(s.frameLength);
  for (int32_t i = 0; i < 4; ++i) s.extradata[i] = static_cast<uint8_t>(samplesPerBlock >> (8 * i));
  s.extradata[4] = static_cast<uint8_t>(s.flags & 0xff);
  s.extradata[5] = static_cast<uint8_t>(s.flags >> 8);
  *setup = s;
  return true;
}

}  // namespace wmaenc
