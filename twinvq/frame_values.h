// One frame's quantiser indices, and their exchange with the encoder library's FrameIndex
// record (the layout that EncoderConfig and the codebook widths describe).
//
// Stable interface: the encoder library builds on it.
#pragma once

#include <cstdint>

#include "stream_setup.h"
#include "tvqenc_api.h"

namespace twinvq {

struct FrameValues {
  int32_t windowType = 0;                   // 0..8; decides the block kind
  int32_t main[kMaxMainPairs][2] = {};      // main spectrum pairs; a 7-bit index is sign + 6 bits
  int32_t bark[kMaxChannels][kMaxSubBlocks][kMaxBarkValues] = {};
  int32_t barkHistory[kMaxChannels][kMaxSubBlocks] = {};  // 1: blend with the last envelope
  int32_t gain[kMaxChannels] = {};                        // 8 bits
  int32_t subGain[kMaxChannels][kMaxSubBlocks] = {};      // 5 bits; short and medium only
  int32_t lspHistory[kMaxChannels] = {};                  // LSP history-weight choice
  int32_t lspFirst[kMaxChannels] = {};                    // first-stage LSP vector
  int32_t lspSecond[kMaxChannels][kMaxLspSplits] = {};    // second stage, per split
  int32_t peak[kMaxPeakPairs][2] = {};                    // peak shape pairs; long only
  int32_t peakPeriod[kMaxChannels] = {};
  int32_t peakGain[kMaxChannels] = {};

  BlockKind kind() const { return BlockKindOfWindowType(windowType); }
};

// True when every value fits its field and the window type is 0..8.
bool ValuesFitFields(const StreamSetup& setup, const FrameValues& values);

// Arrays for the pointers of a FrameIndex, large enough for every mode.
struct FrameIndexArrays {
  int32_t shape[2 * kMaxMainPairs];
  int32_t forward[kMaxChannels * kMaxSubBlocks * kMaxBarkValues];
  int32_t forwardAr[kMaxChannels * kMaxSubBlocks];
  int32_t power[kMaxChannels * (kMaxSubBlocks + 1)];
  int32_t lsp[kMaxChannels][2 + kMaxLspSplits];
  int32_t pitchCodebook[2 * kMaxPeakPairs];
};

// Points index's arrays into storage (pb stays null: no mode has a pb part).
void BindFrameIndex(FrameIndexArrays* storage, FrameIndex* index);

// FrameIndex <-> FrameValues. The record's blockType is the window type's block kind.
void StoreInFrameIndex(const StreamSetup& setup, const FrameValues& values, FrameIndex* index);
void LoadFromFrameIndex(const StreamSetup& setup, const FrameIndex& index, FrameValues* values);

}  // namespace twinvq
