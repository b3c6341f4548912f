// The frame layouts of the TwinVQ stream modes the stand-in encoder accepts: for each
// (kHz code, kbps per channel, channels) the frame size, the frame length in bits and every
// field width and count of a frame record, as a decoder of the format expects them.
// Portable: no Windows headers.
#pragma once

#include <cstdint>

#include "tvqenc_api.h"

// The constants of one mode, for block types short, medium, long (0, 1, 2).
struct TwinVqMode {
  int32_t kHzCode;
  int32_t kbpsPerChannel;
  int32_t realHz;
  int32_t frameSize;         // samples per channel
  int32_t subBlocks[3];
  int32_t forwardCount[3];   // forward values per sub-block
  int32_t forwardBits[3];
  int32_t lsp0Bits, lsp1Bits, lsp2Bits, lsp2Count;
  int32_t pitchBits, pitchGainBits;
  int32_t pitchCodebookBits;  // per channel
};

constexpr int32_t kTwinVqModeCount = 9;
extern const TwinVqMode kTwinVqModes[kTwinVqModeCount];

// Enough for the largest shape part (44 kHz, 48 kbps stereo, medium blocks: 304 pairs).
constexpr int32_t kTwinVqMaxPairs = 320;

struct TwinVqLayout {
  const TwinVqMode* mode;
  int32_t channels;
  int32_t frameBits;  // F: every frame record has exactly this many bits
  EncoderConfig config;
  // Codebook entries 0-2: shape pairs of block types 0-2; entry 3: pitch codebook pairs.
  int32_t widths0[4][kTwinVqMaxPairs];
  int32_t widths1[4][kTwinVqMaxPairs];
};

// The mode for HeaderInfo's channelMode (0 mono, 1 stereo), total kbps and kHz code, or
// null when the combination is not one of the 18 the format has.
const TwinVqMode* FindTwinVqMode(int32_t channelMode, int32_t totalKbps, int32_t kHzCode);

// Fills layout for the combination; false (layout untouched) when there is no such mode.
bool ComputeTwinVqLayout(int32_t channelMode, int32_t totalKbps, int32_t kHzCode,
                         TwinVqLayout* layout);

// Writes the layout's long-block pair count and widths into the caller's arrays: what the
// libraries' TvqEncUpdateVectorInfo restates after a long-block frame (the arrays may be the
// layout's own).
void RestateLongBlockWidths(const TwinVqLayout& layout, int32_t* shapeCount, int32_t* widths0,
                            int32_t* widths1);

// Splits bits over index pairs: count = (bits + 13) / 14 pairs, the wider ones first,
// each pair's two widths differing by at most one (first >= second).
void SplitIntoPairs(int32_t bits, int32_t* count, int32_t* widths0, int32_t* widths1);
