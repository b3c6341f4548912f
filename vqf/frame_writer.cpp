// The frame record writer; each record follows the layout of its own stream.
#include "frame_writer.h"

#include <cstdio>

#include "encoder_library.h"

void FetchFrameLayout(FrameLayout* layout) {
  encoderEntryPoints.TvqEncGetConfInfo(&layout->config);
  encoderEntryPoints.TvqEncGetVectorInfo(layout->widths.widths0, layout->widths.widths1);
}

namespace {

// Writes index pairs with the widths of codebook entry 0-2 (shape of that block type) or 3
// (pitch codebook): values holds the first halves, then the second halves, and the record
// interleaves them pairwise. first/second are the diagnostic formats.
void WritePairs(const int32_t* values, int32_t pairs, const CodebookWidths& widths, int32_t entry,
                const char* first, const char* second, BitFile* file) {
  const int32_t* widths0 = widths.widths0[entry];
  const int32_t* widths1 = widths.widths1[entry];
  for (int32_t i = 0; i < pairs; ++i) {
    if (PutBits(values[i], widths0[i], file)) std::printf(first, i, widths0[i], values[i]);
    if (PutBits(values[pairs + i], widths1[i], file)) {
      std::printf(second, i, widths1[i], values[pairs + i]);
    }
  }
}

void WriteForwardPart(const FrameIndex& index, const EncoderConfig& c, const BlockTypeConfig& t,
                      BitFile* file) {
  const int32_t channels = c.channels;
  for (int32_t ch = 0; ch < channels; ++ch) {
    for (int32_t s = 0; s < t.subBlocks; ++s) {
      for (int32_t k = 0; k < t.forwardCount; ++k) {
        const int32_t value = index.forward[(t.subBlocks * ch + s) * t.forwardCount + k];
        if (PutBits(value, t.forwardBits, file)) {
          std::printf("forward short %d, %d, %d, %d\n", ch, s, k, value);
        }
      }
    }
  }
  for (int32_t ch = 0; ch < channels; ++ch) {
    for (int32_t s = 0; s < t.subBlocks; ++s) {
      const int32_t value = index.forwardAr[t.subBlocks * ch + s];
      if (PutBits(value, c.forwardArBits, file)) {
        std::printf("forward AR param. ch: %d, sh_no: %d, ind: %d\n", ch, s, value);
      }
    }
  }
}

void WritePowerPart(const FrameIndex& index, const EncoderConfig& c, const BlockTypeConfig& t,
                    BitFile* file) {
  for (int32_t ch = 0; ch < c.channels; ++ch) {
    const int32_t* power = index.power + (t.subPowerCount + 1) * ch;
    if (PutBits(power[0], c.powerBits, file)) std::printf("power  %d %d\n", c.powerBits, power[0]);
    for (int32_t j = 0; j < t.subPowerCount; ++j) {
      if (PutBits(power[1 + j], c.subPowerBits, file)) {
        std::printf("power %d, %d %d\n", j, c.subPowerBits, power[1 + j]);
      }
    }
  }
}

void WriteLspPart(const FrameIndex& index, const EncoderConfig& c, BitFile* file) {
  for (int32_t ch = 0; ch < c.channels; ++ch) {
    const int32_t* lsp = index.lsp[ch];
    if (PutBits(lsp[0], c.lsp0Bits, file)) std::printf("lsp0 %d %d\n", c.lsp0Bits, lsp[0]);
    if (PutBits(lsp[1], c.lsp1Bits, file)) std::printf("lsp1 %d %d\n", c.lsp1Bits, lsp[1]);
    for (int32_t j = 0; j < c.lsp2Count; ++j) {
      if (PutBits(lsp[2 + j], c.lsp2Bits, file)) {
        std::printf("lsp2 %d, %d %d\n", j, c.lsp2Bits, lsp[2 + j]);
      }
    }
  }
}

void WritePitchPart(const FrameIndex& index, const FrameLayout& layout, BitFile* file) {
  const EncoderConfig& c = layout.config;
  WritePairs(index.pitchCodebook, c.pitchCodebookCount, layout.widths, 3,
             "codebook0_pit %d, %d %d\n", "codebook1_pit %d, %d %d\n", file);
  for (int32_t ch = 0; ch < c.channels; ++ch) {
    if (PutBits(index.pitch[ch], c.pitchBits, file)) {
      std::printf("index_pitch %d %d\n", c.pitchBits, index.pitch[ch]);
    }
    if (PutBits(index.pitchGain[ch], c.pitchGainBits, file)) {
      std::printf("index_pgain %d %d\n", c.pitchGainBits, index.pitchGain[ch]);
    }
  }
}

void WritePbPart(const FrameIndex& index, const BlockTypeConfig& t, int32_t channels,
                 BitFile* file) {
  const int32_t span = t.pbEnd - t.pbStart;
  for (int32_t ch = 0; ch < channels; ++ch) {
    const int32_t* pb = index.pb[ch];
    for (int32_t s = 0; s < t.subBlocks; ++s) {
      for (int32_t k = t.pbStart; k < t.pbEnd; ++k) {
        const int32_t value = pb[span * s + (k - t.pbStart)];
        if (PutBits(value, t.pbBits, file)) std::printf("index_pb %d %d", t.pbBits, value);
      }
    }
  }
}

}  // namespace

void WriteFrameRecord(const FrameIndex* index, FrameLayout* layout, BitFile* file) {
  // A block type or channel count outside the record's room would read past its arrays;
  // the library never reports one, and such a frame is not written.
  EncoderConfig& c = layout->config;
  const int32_t type = index->blockType;
  if (type < 0 || type > 2 || c.channels < 1 || c.channels > 2) return;
  BlockTypeConfig& t = c.blockTypes[type];

  PutBits(index->typeCode, c.typeCodeBits, file);
  if (type == 2) {
    // The update refreshes this stream's own copy of the type-2 layout.
    encoderEntryPoints.TvqEncUpdateVectorInfo(0, &t.shapeCount, layout->widths.widths0[2],
                                              layout->widths.widths1[2]);
  }
  WritePairs(index->shape, t.shapeCount, layout->widths, type, "shape0 %d, %d %d\n",
             "shape1 %d, %d %d\n", file);
  WriteForwardPart(*index, c, t, file);
  WritePowerPart(*index, c, t, file);
  WriteLspPart(*index, c, file);
  if (t.hasPitch) WritePitchPart(*index, *layout, file);
  if (t.hasPb) WritePbPart(*index, t, c.channels, file);
}
