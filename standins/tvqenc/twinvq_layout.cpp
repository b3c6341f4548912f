// Mode table and the field widths derived from it.
#include "twinvq_layout.h"

#include <cstring>

// kHz, kbps/ch, Hz, frame size, sub-blocks S/M/L, forward values S/M/L, forward bits S/M/L,
// lsp0/lsp1/lsp2 bits, lsp2 count, pitch bits, pitch gain bits, pitch codebook bits.
const TwinVqMode kTwinVqModes[kTwinVqModeCount] = {
    {8, 8, 8000, 512, {8, 2, 1}, {1, 2, 3}, {5, 5, 6}, 1, 5, 3, 3, 8, 6, 28},
    {11, 8, 11025, 512, {8, 2, 1}, {1, 2, 3}, {5, 5, 6}, 1, 6, 4, 3, 9, 7, 36},
    {11, 10, 11025, 512, {8, 2, 1}, {1, 2, 3}, {5, 5, 6}, 1, 6, 4, 3, 9, 7, 36},
    {16, 16, 16000, 1024, {8, 2, 1}, {1, 2, 3}, {5, 5, 6}, 1, 6, 4, 3, 9, 7, 56},
    {22, 20, 22050, 1024, {8, 2, 1}, {1, 2, 4}, {6, 6, 6}, 1, 6, 4, 3, 9, 7, 56},
    {22, 24, 22050, 1024, {8, 2, 1}, {1, 2, 4}, {6, 6, 6}, 1, 6, 4, 3, 9, 7, 56},
    {22, 32, 22050, 512, {4, 2, 1}, {1, 2, 4}, {6, 6, 6}, 1, 6, 4, 4, 9, 7, 56},
    {44, 40, 44100, 2048, {16, 4, 1}, {1, 2, 4}, {6, 6, 6}, 1, 6, 4, 4, 9, 7, 84},
    {44, 48, 44100, 2048, {16, 4, 1}, {1, 2, 4}, {6, 6, 6}, 1, 6, 4, 4, 9, 7, 84},
};

namespace {

constexpr int32_t kTypeCodeBits = 4;
constexpr int32_t kForwardArBits = 1;
constexpr int32_t kPowerBits = 8;
constexpr int32_t kSubPowerBits = 5;
constexpr int32_t kLongBlock = 2;

// Bits of every field of a block type's record except the shape pairs.
int32_t FixedBits(const EncoderConfig& c, const BlockTypeConfig& t, int32_t pitchCodebookBits) {
  const int32_t ch = c.channels;
  int32_t bits = c.typeCodeBits;
  bits += ch * t.subBlocks * (t.forwardCount * t.forwardBits + c.forwardArBits);
  bits += ch * (c.powerBits + t.subPowerCount * c.subPowerBits);
  bits += ch * (c.lsp0Bits + c.lsp1Bits + c.lsp2Count * c.lsp2Bits);
  if (t.hasPitch) bits += pitchCodebookBits + ch * (c.pitchBits + c.pitchGainBits);
  return bits;
}

}  // namespace

void SplitIntoPairs(int32_t bits, int32_t* count, int32_t* widths0, int32_t* widths1) {
  const int32_t n = (bits + 13) / 14;
  *count = n;
  if (n <= 0) return;
  const int32_t up = (bits + n - 1) / n;
  const int32_t down = bits / n;
  const int32_t wide = n - (up * n - bits);  // pairs of up bits, the rest have down bits
  for (int32_t i = 0; i < n; ++i) {
    const int32_t r = i < wide ? up : down;
    widths0[i] = (r + 1) / 2;
    widths1[i] = r / 2;
  }
}

const TwinVqMode* FindTwinVqMode(int32_t channelMode, int32_t totalKbps, int32_t kHzCode) {
  if (channelMode != 0 && channelMode != 1) return nullptr;
  const int32_t channels = channelMode + 1;
  for (const TwinVqMode& mode : kTwinVqModes) {
    if (mode.kHzCode == kHzCode && mode.kbpsPerChannel * channels == totalKbps) return &mode;
  }
  return nullptr;
}

bool ComputeTwinVqLayout(int32_t channelMode, int32_t totalKbps, int32_t kHzCode,
                         TwinVqLayout* layout) {
  const TwinVqMode* mode = FindTwinVqMode(channelMode, totalKbps, kHzCode);
  if (!mode) return false;
  std::memset(layout, 0, sizeof *layout);
  layout->mode = mode;
  layout->channels = channelMode + 1;
  // Integer division with the real rate: every frame has exactly this many bits.
  layout->frameBits = static_cast<int32_t>(int64_t{totalKbps} * 1000 * mode->frameSize /
                                           mode->realHz);

  EncoderConfig& c = layout->config;
  c.channels = layout->channels;
  c.typeCodeBits = kTypeCodeBits;
  c.lsp0Bits = mode->lsp0Bits;
  c.lsp1Bits = mode->lsp1Bits;
  c.lsp2Bits = mode->lsp2Bits;
  c.lsp2Count = mode->lsp2Count;
  c.forwardArBits = kForwardArBits;
  c.powerBits = kPowerBits;
  c.subPowerBits = kSubPowerBits;
  c.pitchBits = mode->pitchBits;
  c.pitchGainBits = mode->pitchGainBits;

  const int32_t pitchCodebookBits = layout->channels * mode->pitchCodebookBits;
  SplitIntoPairs(pitchCodebookBits, &c.pitchCodebookCount, layout->widths0[3], layout->widths1[3]);

  for (int32_t type = 0; type < 3; ++type) {
    BlockTypeConfig& t = c.blockTypes[type];
    t.subBlocks = mode->subBlocks[type];
    t.forwardCount = mode->forwardCount[type];
    t.forwardBits = mode->forwardBits[type];
    // Sub-block powers and the pitch part belong to one kind of block each; no pb part.
    t.subPowerCount = type == kLongBlock ? 0 : t.subBlocks;
    t.hasPitch = type == kLongBlock ? 1 : 0;
    const int32_t shapeBits = layout->frameBits - FixedBits(c, t, pitchCodebookBits);
    SplitIntoPairs(shapeBits, &t.shapeCount, layout->widths0[type], layout->widths1[type]);
  }
  return true;
}

void RestateLongBlockWidths(const TwinVqLayout& layout, int32_t* shapeCount, int32_t* widths0,
                            int32_t* widths1) {
  const int32_t pairs = layout.config.blockTypes[kLongBlock].shapeCount;
  *shapeCount = pairs;
  const size_t bytes = sizeof(int32_t) * static_cast<size_t>(pairs);
  std::memmove(widths0, layout.widths0[kLongBlock], bytes);
  std::memmove(widths1, layout.widths1[kLongBlock], bytes);
}
