// Everything a TwinVQ stream derives from its rate mode and channel count: the frame length
// in bits, the bit widths and vector lengths of the main and peak codebook parts, the
// permutations that spread codebook vectors over the spectrum, the sine windows, the
// cosine grids of the envelope, and the frame-record layout the encoder library reports
// (EncoderConfig and the codebook widths, as TvqEncGetConfInfo/TvqEncGetVectorInfo give them).
//
// Stable interface: the encoder library builds on it.
#pragma once

#include <cstdint>
#include <vector>

#include "tables.h"
#include "tvqenc_api.h"

namespace twinvq {

constexpr int32_t kMaxChannels = 2;
constexpr int32_t kMaxSubBlocks = 16;
constexpr int32_t kMaxBarkValues = 4;
constexpr int32_t kMaxLspOrder = 20;
constexpr int32_t kMaxLspSplits = 4;
constexpr int32_t kMaxMainPairs = 320;  // largest: 44 kHz, 48 kbps stereo, medium (304)
constexpr int32_t kMaxPeakPairs = 16;   // largest: 44 kHz stereo (12)
constexpr int32_t kWindowTypeBits = 4;
constexpr int32_t kGainBits = 8;
constexpr int32_t kSubGainBits = 5;
constexpr int32_t kWindowTypeCount = 9;  // 0..8; 9..15 are invalid

// Block kind of each window type (long for the invalid types 9..15 and beyond).
BlockKind BlockKindOfWindowType(int32_t windowType);

// One codebook part (main spectrum of a block kind, or the peak shape): how its bits split
// into index pairs and how its vectors are laid out.
struct VectorPart {
  int32_t pairs = 0;         // index pairs = vectors
  int32_t widePairs = 0;     // the first widePairs pairs use bits[.][0], the rest bits[.][1]
  int32_t bits[2][2] = {};   // [first/second index][wide/narrow]; 7 = sign + 6-bit index
  int32_t longVectors = 0;   // the first longVectors vectors have length[0] values
  int32_t length[2] = {};    // values per vector: long, short
  int32_t codebookStride = 0;          // values per codebook entry
  const int16_t* codebook[2] = {};     // the two books
  // The two books' 64 entries as floats, each padded with zeros to paddedStride (a multiple
  // of 4) values, so that a decoder adds whole groups of four.
  int32_t paddedStride = 0;
  std::vector<float> paddedBook[2];
  std::vector<int32_t> destination;    // value k of the concatenated vectors -> slot
  std::vector<int32_t> source;         // slot -> value k (the inverse of destination)

  int32_t FirstBits(int32_t pair) const { return bits[0][pair < widePairs ? 0 : 1]; }
  int32_t SecondBits(int32_t pair) const { return bits[1][pair < widePairs ? 0 : 1]; }
  int32_t VectorLength(int32_t pair) const { return length[pair < longVectors ? 0 : 1]; }
  int32_t TotalBits() const;
};

class StreamSetup {
 public:
  // False for a combination that is not one of the 18 modes (channels 1 or 2).
  bool Init(int32_t kHzCode, int32_t kbpsPerChannel, int32_t channels);

  const RateMode& mode() const { return *mode_; }
  int32_t channels() const { return channels_; }
  int32_t frameSize() const { return mode_->frameSize; }
  int32_t frameBits() const { return frameBits_; }
  int32_t subBlocks(BlockKind kind) const { return mode_->block[kind].subBlocks; }
  int32_t blockSize(BlockKind kind) const { return mode_->frameSize / subBlocks(kind); }
  const VectorPart& part(BlockKind kind) const { return parts_[kind]; }

  // Sine window of length n (n = frame size, medium block size or half the short block):
  // value i is sin((i + 1/2)·pi / (2n)).
  const float* Window(int32_t n) const;
  // Cosine grid of a block kind: value j is cos((j + 1/2)·pi / blockSize), j <= blockSize/2.
  const float* CosineGrid(BlockKind kind) const { return cosines_[kind].data(); }

  // Peak component: the coded period (times 400 per bin) for a period index, the peak width
  // in bins, and the linear gain for a gain index.
  int32_t PeakPeriod(int32_t periodIndex) const;
  int32_t PeakWidth(int32_t period) const;

  // The frame-record layout: EncoderConfig as TvqEncGetConfInfo fills it and the pair
  // widths of block types 0-2 and of the peak part (entry 3).
  void FillEncoderConfig(EncoderConfig* config) const;
  void FillCodebookWidths(int32_t entry, int32_t* widths0, int32_t* widths1) const;

 private:
  void InitPart(BlockKind kind, int32_t bitCount);
  const RateMode* mode_ = nullptr;
  int32_t channels_ = 0;
  int32_t frameBits_ = 0;
  VectorPart parts_[4];
  std::vector<float> windows_[3];   // frame size, medium block, half short block
  std::vector<float> cosines_[3];
};

}  // namespace twinvq
