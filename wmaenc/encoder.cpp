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
      frameOut_[ch].assign(2 * f, 0.0f);
      recon_[ch].clear();
    }
    scratch_.assign(2 * f, 0.0f);
    scratch2_.assign(2 * f, 0.0f);
    plan_ = std::make_unique<BlockPlan>();
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

// The smallest total gain (finest steps) whose block fits target bits; bits fall as the
// gain rises, so a bisection finds it.
void Encoder::ChooseGain(int64_t target) {
  BlockPlan& plan = *plan_;
  auto fits = [&](int32_t gain) {
    plan.gain = gain;
    bool ok = true;
    for (int32_t ch = 0; ch < setup_.channels; ++ch)
      ok = Quantise(setup_, coefs_[ch].data(), &plan, ch) && ok;
    return ok && BlockBits(setup_, plan) <= target;
  };
  int32_t low = 1, high = kHighestGain;
  if (!fits(high)) {
    // Not even silence fits: the channels go uncoded.
    for (int32_t ch = 0; ch < setup_.channels; ++ch) plan.channel[ch].coded = false;
    return;
  }
  while (low < high) {
    const int32_t mid = (low + high) / 2;
    if (fits(mid)) high = mid;
    else low = mid + 1;
  }
  fits(high);
}

// Bits saved beyond what the reservoir keeps go into zero-valued escapes after each
// channel's last value: the decoder reads them as zeros.
void Encoder::SpendSurplus(int64_t available, int64_t target, int64_t* used) {
  BlockPlan& plan = *plan_;
  for (int32_t ch = plan.channels - 1; ch >= 0; --ch) {
    const int64_t surplus = available - *used - reservoirMax_;
    if (surplus <= 0) return;
    if (!plan.channel[ch].coded) continue;
    const int32_t escapeBits = PadEscapeBits(setup_, plan, ch);
    int64_t count = (surplus + escapeBits - 1) / escapeBits;
    count = std::min<int64_t>(count, PadEscapeRoom(plan, ch));
    count = std::min<int64_t>(count, (target - *used) / escapeBits);
    if (count <= 0) continue;
    plan.channel[ch].padEscapes = static_cast<int32_t>(count);
    *used = BlockBits(setup_, plan);
    stats_.fillerBits += count * escapeBits;
  }
}

Result Encoder::EncodeFrame(const float* const* planes) noexcept {
  if (!open_ || finished_) return Result::kWrongState;
  try {
    Analyse(planes);
    BlockPlan& plan = *plan_;
    plan.layout = &setup_.layout[0];
    plan.channels = setup_.channels;
    plan.midSide = false;
    for (int32_t ch = 0; ch < setup_.channels; ++ch) {
      plan.channel[ch].coded = true;
      ChooseExponents(*plan.layout, coefs_[ch].data(), plan.channel[ch].exponents);
    }
    const int64_t available = NextBudget() + reservoir_;
    const int64_t target = std::min(available, packer_.NextFrameCap());
    ChooseGain(target);
    int64_t used = BlockBits(setup_, plan);
    SpendSurplus(available, target, &used);

    frameBits_.Clear();
    WriteBlock(setup_, plan, &frameBits_);
    packer_.AddFrame(frameBits_);
    reservoir_ = available - used;
    ++stats_.frames;
    stats_.frameBits += used;
    stats_.largestReservoir = std::max(stats_.largestReservoir, reservoir_);
    stats_.smallestReservoir = std::min(stats_.smallestReservoir, reservoir_);
    if (keepRecon_) Reconstruct();
  } catch (const std::bad_alloc&) {
    return Result::kNoMemory;
  }
  return Result::kOk;
}

// What the decoder does with the frame: coefficients (with its noise), the mid/side
// butterfly, the inverse transform, the window and the overlap with the frame before.
void Encoder::Reconstruct() {
  const int32_t f = setup_.frameLength;
  const BlockPlan& plan = *plan_;
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
