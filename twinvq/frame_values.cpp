// Frame values: field checks and the FrameIndex layout.
#include "frame_values.h"

namespace twinvq {
namespace {

bool Fits(int32_t value, int32_t bits) { return value >= 0 && value < (int32_t{1} << bits); }

bool PairsFit(const VectorPart& part, const int32_t (*pairs)[2]) {
  for (int32_t i = 0; i < part.pairs; ++i) {
    if (!Fits(pairs[i][0], part.FirstBits(i)) || !Fits(pairs[i][1], part.SecondBits(i))) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool ValuesFitFields(const StreamSetup& setup, const FrameValues& v) {
  if (v.windowType < 0 || v.windowType >= kWindowTypeCount) return false;
  const BlockKind kind = v.kind();
  const RateMode& m = setup.mode();
  const BlockTables& b = m.block[kind];
  if (!PairsFit(setup.part(kind), v.main)) return false;
  for (int32_t ch = 0; ch < setup.channels(); ++ch) {
    for (int32_t s = 0; s < b.subBlocks; ++s) {
      for (int32_t k = 0; k < b.barkValues; ++k) {
        if (!Fits(v.bark[ch][s][k], b.barkBits)) return false;
      }
      if (!Fits(v.barkHistory[ch][s], 1)) return false;
      if (kind != kLongBlock && !Fits(v.subGain[ch][s], kSubGainBits)) return false;
    }
    if (!Fits(v.gain[ch], kGainBits) || !Fits(v.lspHistory[ch], m.lsp0Bits) ||
        !Fits(v.lspFirst[ch], m.lsp1Bits)) {
      return false;
    }
    for (int32_t s = 0; s < m.lspSplits; ++s) {
      if (!Fits(v.lspSecond[ch][s], m.lsp2Bits)) return false;
    }
    if (kind == kLongBlock && (!Fits(v.peakPeriod[ch], m.peakPeriodBits) ||
                               !Fits(v.peakGain[ch], m.peakGainBits))) {
      return false;
    }
  }
  return kind != kLongBlock || PairsFit(setup.part(kPeakPart), v.peak);
}

void BindFrameIndex(FrameIndexArrays* storage, FrameIndex* index) {
  index->shape = storage->shape;
  index->forward = storage->forward;
  index->forwardAr = storage->forwardAr;
  index->power = storage->power;
  index->lsp[0] = storage->lsp[0];
  index->lsp[1] = storage->lsp[1];
  index->pitchCodebook = storage->pitchCodebook;
  index->pb[0] = nullptr;
  index->pb[1] = nullptr;
}

void StoreInFrameIndex(const StreamSetup& setup, const FrameValues& v, FrameIndex* index) {
  const BlockKind kind = v.kind();
  const RateMode& m = setup.mode();
  const BlockTables& b = m.block[kind];
  const int32_t subPowers = kind == kLongBlock ? 0 : b.subBlocks;
  index->typeCode = v.windowType;
  index->blockType = kind;
  const int32_t pairs = setup.part(kind).pairs;
  for (int32_t i = 0; i < pairs; ++i) {
    index->shape[i] = v.main[i][0];
    index->shape[pairs + i] = v.main[i][1];
  }
  for (int32_t ch = 0; ch < setup.channels(); ++ch) {
    for (int32_t s = 0; s < b.subBlocks; ++s) {
      for (int32_t k = 0; k < b.barkValues; ++k) {
        index->forward[(b.subBlocks * ch + s) * b.barkValues + k] = v.bark[ch][s][k];
      }
      index->forwardAr[b.subBlocks * ch + s] = v.barkHistory[ch][s];
    }
    int32_t* power = index->power + (subPowers + 1) * ch;
    power[0] = v.gain[ch];
    for (int32_t s = 0; s < subPowers; ++s) power[1 + s] = v.subGain[ch][s];
    index->lsp[ch][0] = v.lspHistory[ch];
    index->lsp[ch][1] = v.lspFirst[ch];
    for (int32_t s = 0; s < m.lspSplits; ++s) index->lsp[ch][2 + s] = v.lspSecond[ch][s];
    index->pitch[ch] = v.peakPeriod[ch];
    index->pitchGain[ch] = v.peakGain[ch];
  }
  const int32_t peakPairs = setup.part(kPeakPart).pairs;
  for (int32_t i = 0; i < peakPairs; ++i) {
    index->pitchCodebook[i] = v.peak[i][0];
    index->pitchCodebook[peakPairs + i] = v.peak[i][1];
  }
}

void LoadFromFrameIndex(const StreamSetup& setup, const FrameIndex& index, FrameValues* v) {
  *v = FrameValues{};
  v->windowType = index.typeCode;
  if (v->windowType < 0 || v->windowType >= kWindowTypeCount) return;
  const BlockKind kind = v->kind();
  const RateMode& m = setup.mode();
  const BlockTables& b = m.block[kind];
  const int32_t subPowers = kind == kLongBlock ? 0 : b.subBlocks;
  const int32_t pairs = setup.part(kind).pairs;
  for (int32_t i = 0; i < pairs; ++i) {
    v->main[i][0] = index.shape[i];
    v->main[i][1] = index.shape[pairs + i];
  }
  for (int32_t ch = 0; ch < setup.channels(); ++ch) {
    for (int32_t s = 0; s < b.subBlocks; ++s) {
      for (int32_t k = 0; k < b.barkValues; ++k) {
        v->bark[ch][s][k] = index.forward[(b.subBlocks * ch + s) * b.barkValues + k];
      }
      v->barkHistory[ch][s] = index.forwardAr[b.subBlocks * ch + s];
    }
    const int32_t* power = index.power + (subPowers + 1) * ch;
    v->gain[ch] = power[0];
    for (int32_t s = 0; s < subPowers; ++s) v->subGain[ch][s] = power[1 + s];
    v->lspHistory[ch] = index.lsp[ch][0];
    v->lspFirst[ch] = index.lsp[ch][1];
    for (int32_t s = 0; s < m.lspSplits; ++s) v->lspSecond[ch][s] = index.lsp[ch][2 + s];
    if (kind == kLongBlock) {
      v->peakPeriod[ch] = index.pitch[ch];
      v->peakGain[ch] = index.pitchGain[ch];
    }
  }
  if (kind == kLongBlock) {
    const int32_t peakPairs = setup.part(kPeakPart).pairs;
    for (int32_t i = 0; i < peakPairs; ++i) {
      v->peak[i][0] = index.pitchCodebook[i];
      v->peak[i][1] = index.pitchCodebook[peakPairs + i];
    }
  }
}

}  // namespace twinvq
