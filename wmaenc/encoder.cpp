#include "encoder.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "imdct.h"
#include "mdct.h"

namespace wmaenc {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr float kFullScale = 32768.0f;  // the decoder's inverse transform divides by this

}  // namespace

Encoder::Encoder() = default;
Encoder::~Encoder() = default;

Result Encoder::Open(const StreamSetup& setup, bool keepReconstruction) noexcept {
  try {
    setup_ = setup;
    const int32_t f = setup.frameLength;
    mdct_ = std::make_unique<tvqenc::Mdct>(f);
    imdct_ = std::make_unique<twinvq::HalfImdct>();
    imdct_->Init(f, -1.0 / kFullScale);  // the decoder's transform has the opposite sign
    window_.assign(2 * f, 0.0f);
    for (int32_t i = 0; i < f; ++i) {
      const float w = std::sin(static_cast<float>((i + 0.5) * (kPi / (2.0 * f))));
      window_[i] = w;
      window_[2 * f - 1 - i] = w;
    }
    for (int32_t ch = 0; ch < setup.channels; ++ch) {
      history_[ch].assign(f, 0.0f);
      coefs_[ch].assign(f, 0.0f);
      midSide_[ch].assign(f, 0.0f);
      frameOut_[ch].assign(2 * f, 0.0f);
      recon_[ch].clear();
    }
    scratch_.assign(2 * f, 0.0f);
    scratch2_.assign(2 * f, 0.0f);
    plan_ = std::make_unique<BlockPlan>();
    midSidePlan_ = std::make_unique<BlockPlan>();
    packer_.Init(setup);
    frameBits_.Reserve(static_cast<size_t>(setup.packetBytes) * 2);
  } catch (const std::bad_alloc&) {
    open_ = false;
    return Result::kNoMemory;
  }
  const int64_t packetBits = int64_t{setup.packetBytes} * 8;
  const int64_t payloadBits = packetBits - PacketHeaderBits(setup);
  // Each frame's share of the packets' payload at the bit rate, carried exactly.
  budgetNumerator_ = payloadBits * setup.bitRate * setup.frameLength;
  budgetDenominator_ = int64_t{setup.sampleRate} * packetBits;
  budgetRemainder_ = 0;
  reservoir_ = 0;
  reservoirMax_ = payloadBits / 2;
  noiseIndex_ = 0;
  meanEntropy_ = 0;
  keepRecon_ = keepReconstruction;
  stats_ = EncoderStats{};
  open_ = true;
  finished_ = false;
  return Result::kOk;
}

// The frame's coefficients in the decoder's scale: the windowed 2F samples (last frame and
// this one) through the orthonormal transform, times -2^15 sqrt(2/F): the decoder's
// inverse is the orthonormal one negated and divided by 2^15.
void Encoder::Analyse(const float* const* planes) {
  const int32_t f = setup_.frameLength;
  const float gain = -kFullScale * static_cast<float>(std::sqrt(2.0 / f));
  for (int32_t ch = 0; ch < setup_.channels; ++ch) {
    for (int32_t i = 0; i < f; ++i) {
      scratch_[i] = history_[ch][i] * window_[i];
      scratch_[f + i] = planes[ch][i] * window_[f + i];
    }
    std::copy(planes[ch], planes[ch] + f, history_[ch].begin());
    mdct_->Forward(scratch_.data(), coefs_[ch].data());
    for (int32_t k = 0; k < f; ++k) coefs_[ch][k] *= gain;
  }
}

int64_t Encoder::NextBudget() {
  budgetRemainder_ += budgetNumerator_;
  const int64_t bits = budgetRemainder_ / budgetDenominator_;
  budgetRemainder_ %= budgetDenominator_;
  return bits;
}

// A frame's target: its budget, scaled by how its perceptual entropy compares with the
// running mean (0.75 to 1.75 times); never more than the budget and the reservoir together
// nor than the packets let one frame take, and never so little that the reservoir would
// hold more than its limit.
int64_t Encoder::FrameTarget(int64_t budget, double entropy) {
  meanEntropy_ = meanEntropy_ <= 0 ? std::max(entropy, 1.0) : 0.95 * meanEntropy_ + 0.05 * entropy;
  const double need = std::clamp(entropy / std::max(meanEntropy_, 1.0), 0.75, 1.75);
  const int64_t available = budget + reservoir_;
  const int64_t wanted = std::clamp(static_cast<int64_t>(budget * need), available - reservoirMax_, available);
  return std::min(wanted, packer_.NextFrameCap());
}

void Encoder::PlanBlock(const double (*thresholds)[kMaxBands], BlockPlan* plan) {
  plan->layout = &setup_.layout[0];
  plan->channels = setup_.channels;
  for (int32_t ch = 0; ch < setup_.channels; ++ch) {
    plan->channel[ch].coded = true;
    plan->channel[ch].padEscapes = 0;
    ExponentsFromThresholds(*plan->layout, thresholds[ch], plan->channel[ch].exponents);
  }
}

// The smallest total gain (finest steps) whose block fits target bits; bits fall as the
// gain rises, so a bisection finds it.
void Encoder::ChooseGain(int64_t target, const std::vector<float>* coefs, BlockPlan* plan) {
  auto fits = [&](int32_t gain) {
    plan->gain = gain;
    bool ok = true;
    for (int32_t ch = 0; ch < setup_.channels; ++ch) ok = Quantise(setup_, coefs[ch].data(), plan, ch) && ok;
    return ok && BlockBits(setup_, *plan) <= target;
  };
  int32_t low = 1, high = kHighestGain;
  if (!fits(high)) {
    // Not even silence fits: the channels go uncoded.
    for (int32_t ch = 0; ch < setup_.channels; ++ch) plan->channel[ch].coded = false;
    return;
  }
  while (low < high) {
    const int32_t mid = (low + high) / 2;
    if (fits(mid)) high = mid;
    else low = mid + 1;
  }
  fits(high);
  SpendOnBands(target, coefs, plan);
}

// The gain moves every band's step together by 1 dB; what the next finer gain would
// overshoot is spent band by band from the lowest: each band's step one exponent finer
// where the bits still fit (the largest exponent stays, since it sets every step).
void Encoder::SpendOnBands(int64_t target, const std::vector<float>* coefs, BlockPlan* plan) {
  int64_t used = BlockBits(setup_, *plan);
  for (int32_t ch = 0; ch < plan->channels; ++ch) {
    ChannelPlan& c = plan->channel[ch];
    if (!c.coded) continue;
    const int32_t count = plan->layout->bandCount;
    const int32_t top = *std::max_element(c.exponents, c.exponents + count);
    for (int32_t b = 0; b < count && target - used > 8; ++b) {
      const int32_t e = c.exponents[b] - 1;
      if (e >= top - 1 || e < kLowestExponent) continue;
      if (b > 0 && c.exponents[b - 1] - e > 60) continue;
      if (b + 1 < count && c.exponents[b + 1] - e > 60) continue;
      c.exponents[b] = e;
      const bool ok = Quantise(setup_, coefs[ch].data(), plan, ch);
      const int64_t bits = BlockBits(setup_, *plan);
      if (ok && bits <= target) {
        used = bits;
      } else {
        c.exponents[b] = e + 1;
        Quantise(setup_, coefs[ch].data(), plan, ch);
      }
    }
  }
}

// Bits saved beyond what the reservoir keeps go into zero-valued escapes after each
// channel's last value: the decoder reads them as zeros.
void Encoder::SpendSurplus(int64_t available, int64_t limit, BlockPlan* plan, int64_t* used) {
  for (int32_t ch = plan->channels - 1; ch >= 0; --ch) {
    const int64_t surplus = available - *used - reservoirMax_;
    if (surplus <= 0) return;
    if (!plan->channel[ch].coded) continue;
    const int32_t escapeBits = PadEscapeBits(setup_, *plan, ch);
    int64_t count = (surplus + escapeBits - 1) / escapeBits;
    count = std::min<int64_t>(count, PadEscapeRoom(*plan, ch));
    count = std::min<int64_t>(count, (limit - *used) / escapeBits);
    if (count <= 0) continue;
    plan->channel[ch].padEscapes = static_cast<int32_t>(count);
    *used = BlockBits(setup_, *plan);
    stats_.fillerBits += count * escapeBits;
  }
}

Result Encoder::EncodeFrame(const float* const* planes) noexcept {
  if (!open_ || finished_) return Result::kWrongState;
  try {
    Analyse(planes);
    const BlockLayout& layout = setup_.layout[0];
    double power[kMaxChannels][kMaxBands], thresholds[kMaxChannels][kMaxBands];
    double entropy = 0;
    for (int32_t ch = 0; ch < setup_.channels; ++ch) {
      BandPowers(layout, coefs_[ch].data(), power[ch]);
      model_->Thresholds(layout, power[ch], thresholds[ch]);
      entropy += PerceptualEntropy(layout, power[ch], thresholds[ch]);
    }
    const int64_t budget = NextBudget();
    const int64_t available = budget + reservoir_;
    const int64_t target = FrameTarget(budget, entropy);

    BlockPlan* plan = plan_.get();
    plan->midSide = false;
    PlanBlock(thresholds, plan);
    ChooseGain(target, coefs_, plan);
    if (setup_.channels == 2) {
      // Mid/side: the noise of both reaches each side, so each gets half the lower threshold.
      const int32_t f = setup_.frameLength;
      for (int32_t k = 0; k < f; ++k) {
        midSide_[0][k] = 0.5f * (coefs_[0][k] + coefs_[1][k]);
        midSide_[1][k] = 0.5f * (coefs_[0][k] - coefs_[1][k]);
      }
      double shared[kMaxChannels][kMaxBands];
      for (int32_t b = 0; b < layout.bandCount; ++b)
        shared[0][b] = shared[1][b] = 0.5 * std::min(thresholds[0][b], thresholds[1][b]);
      BlockPlan* ms = midSidePlan_.get();
      ms->midSide = true;
      PlanBlock(shared, ms);
      ChooseGain(target, midSide_, ms);
      // Left/right noise over its own thresholds against mid/side noise over the lower ones.
      if (NoiseOverThresholdDb(*ms) < NoiseOverThresholdDb(*plan)) {
        plan = ms;
        ++stats_.midSideBlocks;
      }
    }
    int64_t used = BlockBits(setup_, *plan);
    SpendSurplus(available, std::min(available, packer_.NextFrameCap()), plan, &used);

    frameBits_.Clear();
    WriteBlock(setup_, *plan, &frameBits_);
    packer_.AddFrame(frameBits_);
    reservoir_ = available - used;
    ++stats_.frames;
    stats_.frameBits += used;
    stats_.largestReservoir = std::max(stats_.largestReservoir, reservoir_);
    stats_.smallestReservoir = std::min(stats_.smallestReservoir, reservoir_);
    if (keepRecon_) Reconstruct(*plan);
  } catch (const std::bad_alloc&) {
    return Result::kNoMemory;
  }
  return Result::kOk;
}

// What the decoder does with the frame: coefficients (with its noise), the mid/side
// butterfly, the inverse transform, the window and the overlap with the frame before.
void Encoder::Reconstruct(const BlockPlan& plan) {
  const int32_t f = setup_.frameLength;
  float* coefs[kMaxChannels] = {scratch_.data(), scratch2_.data()};
  for (int32_t ch = 0; ch < setup_.channels; ++ch)
    DecodedCoefficients(setup_, plan, ch, &noiseIndex_, coefs[ch]);
  if (plan.midSide) {
    for (int32_t k = 0; k < f; ++k) {
      const float a = coefs[0][k], b = coefs[1][k];
      coefs[0][k] = a + b;
      coefs[1][k] = a - b;
    }
  }
  std::vector<float> half(f), full(2 * f);
  for (int32_t ch = 0; ch < setup_.channels; ++ch) {
    imdct_->Run(coefs[ch], half.data());
    // The full output from its middle half: odd about F/2, even about 3F/2.
    for (int32_t j = 0; j < f; ++j) full[f / 2 + j] = half[j];
    for (int32_t j = 0; j < f / 2; ++j) full[j] = -full[f - 1 - j];
    for (int32_t j = 3 * f / 2; j < 2 * f; ++j) full[j] = full[3 * f - 1 - j];
    float* out = frameOut_[ch].data();
    for (int32_t j = 0; j < f; ++j) out[j] += full[j] * window_[j];
    for (int32_t j = f; j < 2 * f; ++j) out[j] = full[j] * window_[j];
    recon_[ch].insert(recon_[ch].end(), out, out + f);
    std::copy(out + f, out + 2 * f, out);
  }
}

Result Encoder::Finish() noexcept {
  if (!open_ || finished_) return Result::kWrongState;
  try {
    packer_.Finish();
  } catch (const std::bad_alloc&) {
    return Result::kNoMemory;
  }
  finished_ = true;
  return Result::kOk;
}

bool Encoder::TakePacket(std::vector<uint8_t>* packet) noexcept {
  if (!packer_.HasPacket()) return false;
  *packet = packer_.TakePacket();  // a move: no allocation
  return true;
}

}  // namespace wmaenc
