// The stand-in's per-stream encoder: not a real TwinVQ encoder, but a deterministic one
// that turns each frame of samples into in-range quantiser indices for the mode's layout.
// Block types follow loudness: sudden changes give short blocks, moderate ones medium
// blocks, steady sound and silence long blocks. Portable: no Windows headers.
#pragma once

#include <cstdint>
#include <vector>

#include "twinvq_layout.h"

class StandinEncoder {
 public:
  explicit StandinEncoder(const TwinVqLayout& layout);

  // Points every array field of index at this encoder's arrays.
  void Attach(FrameIndex* index);

  // Consumes one frame (planar, frameSize samples per channel) and fills index.
  void Encode(const float* samples, FrameIndex* index);

  const TwinVqLayout& Layout() const { return layout_; }

 private:
  int32_t ChooseBlockType(const float* samples);
  void FillShape(const float* samples, int32_t type);
  void FillChannel(const float* channel, int32_t ch, const BlockTypeConfig& t, FrameIndex* index);
  void FillPitchCodebook(const float* samples);

  const TwinVqLayout& layout_;
  std::vector<int32_t> shape_, forward_, forwardAr_, power_, pitchCodebook_;
  std::vector<int32_t> lsp_[2];
  std::vector<int32_t> pb_[2];
  double lastSegmentEnergy_[2] = {0.0, 0.0};
};

// Block type numbers and the type codes the records carry for them.
constexpr int32_t kShortBlock = 0;
constexpr int32_t kMediumBlock = 1;
constexpr int32_t kLongBlock = 2;
constexpr int32_t kTypeCodes[3] = {2, 8, 0};
