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

// Bits per sample and channel of the stream, and the figure below which they are few.
double BitsPerSample(const StreamSetup& setup) {
  return static_cast<double>(setup.bitRate) / (setup.channels * setup.sampleRate);
}
constexpr double kFewBits = 0.9;
// A frame's target against its share: its perceptual entropy over the running mean, within
// these (PEAQ, seven clips: 0.6 to 2.0 against 0.75 to 1.75 lifts the band clip at
// 128 kbit/s by 0.09 and castanets by 0.18, and the median at 64 kbit/s from -2.73 to
// -2.62; 0.5 to 2.5 helps the band more but costs speech 0.33).
constexpr double kLeastNeed = 0.6;
constexpr double kMostNeed = 2.0;
constexpr double kOnsetFloor = 1e-6;         // high-passed energy under which nothing is an onset
constexpr double kSharpOnsetRatio = 1000.0;  // 30 dB
constexpr double kLeastShortBlockBits = 120.0;  // per block and channel of a short frame
constexpr double kWideShare = 0.1;           // of a block's energy above the narrow limit
constexpr double kWideBandwidthHz = 16000.0;

}  // namespace

NoiseBandTuning DefaultNoiseBands(const StreamSetup& setup) {
  NoiseBandTuning t;
  t.enabled = setup.noiseCoding && setup.sampleRate >= 32000;
  return t;
}

Encoder::Encoder() = default;
Encoder::~Encoder() = default;

Result Encoder::Open(const StreamSetup& setup, bool keepReconstruction) noexcept {
  try {
    setup_ = setup;
    const int32_t f = setup.frameLength;
    for (int32_t k = 0; k < kMaxBlockSizes; ++k) {
      mdct_[k].reset();
      imdct_[k].reset();
    }
    for (int32_t k = 0; k < setup.blockSizes; ++k) {
      mdct_[k] = std::make_unique<tvqenc::Mdct>(f >> k);
      imdct_[k] = std::make_unique<twinvq::HalfImdct>();
      imdct_[k]->Init(f >> k, -1.0 / kFullScale);  // the decoder's transform has the opposite sign
    }
    window_.assign(2 * f, 0.0f);
    for (int32_t ch = 0; ch < setup.channels; ++ch) {
      input_[ch].assign(3 * f, 0.0f);
      coefs_[ch].assign(f, 0.0f);
      midSide_[ch].assign(f, 0.0f);
      spectrum_[ch].assign(f, 0.0f);
      midSideSpectrum_[ch].assign(f, 0.0f);
      frameOut_[ch].assign(2 * f, 0.0f);
      recon_[ch].clear();
    }
    scratch_.assign(2 * f, 0.0f);
    scratch2_.assign(2 * f, 0.0f);
    plan_ = std::make_unique<BlockPlan>();
    midSidePlan_ = std::make_unique<BlockPlan>();
    bandwidthHz_ = CodedBandwidthHz(setup);
    onsetRatio_ = OnsetRatio(setup);
    shortSize_ = Affordable(setup, setup.shortSize) ? setup.shortSize : 0;
    sharpSize_ = BitsPerSample(setup) >= kFewBits && Affordable(setup, setup.shortSize + 1)
                     ? std::min(setup.shortSize + 1, setup.blockSizes - 1)
                     : shortSize_;
    packer_.Init(setup);
    ownModel_.Init(setup);
    noiseTuning_ = DefaultNoiseBands(setup);
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
  framesIn_ = 0;
  nextSize_ = pendingSize_ = 0;
  lastSize_ = 0;
  for (int32_t& size : heldSize_) size = -1;
  for (double& e : onsetHistory_) e = 0;
  keepRecon_ = keepReconstruction;
  stats_ = EncoderStats{};
  open_ = true;
  finished_ = false;
  return Result::kOk;
}

// Below about 0.9 bits per sample and channel the spectrum is coded up to 11 kHz times
// that figure (8 kHz at 64 kbit/s, 44.1 kHz stereo): the bits the top bands would take
// leave every band below too noisy (PEAQ, five clips at 64 kbit/s: median ODG -3.57 coding
// everything, -2.52 up to 8 kHz, -3.48 up to 10 kHz; at 96 kbit/s a 12 kHz limit gains
// nothing, and at 128 kbit/s 17 kHz loses).
double Encoder::CodedBandwidthHz(const StreamSetup& setup) {
  const double bits = BitsPerSample(setup);
  return bits < kFewBits ? 11000.0 * bits : 0.5 * setup.sampleRate;
}

// Where the block's coded spectrum ends (coefficients from there up are coded as zeros):
// the narrow limit where bits are few, but where a tenth or more of the block's energy lies
// above it (applause, a castanet's click: material that is mostly its top) up to 16 kHz
// (PEAQ at 64 kbit/s, seven clips: median ODG -3.18 with the narrow limit alone, -2.73;
// the transient clip -3.49 to -2.73).
int32_t Encoder::CodedEnd(int32_t length) const {
  const double binHz = 0.5 * setup_.sampleRate / length;
  const int32_t narrow = static_cast<int32_t>(std::min<double>(length, bandwidthHz_ / binHz));
  if (narrow >= length) return length;
  double above = 0, all = 0;
  for (int32_t ch = 0; ch < setup_.channels; ++ch) {
    for (int32_t k = 0; k < length; ++k) {
      const double p = static_cast<double>(coefs_[ch][k]) * coefs_[ch][k];
      all += p;
      if (k >= narrow) above += p;
    }
  }
  if (above < kWideShare * all) return narrow;
  return static_cast<int32_t>(std::min<double>(length, kWideBandwidthHz / binHz));
}

// Whether a frame's share of the bit rate pays for blocks of size index k: each block of
// each channel brings its own exponents (on their own about a hundred bits), and where the
// share cannot pay for them the blocks after an onset go silent (at 10 kbit/s, 16 kHz mono:
// 320 bits a frame for four blocks of 128, and 16 ms of a tone lost after its start).
bool Encoder::Affordable(const StreamSetup& setup, int32_t k) {
  if (k <= 0 || k >= setup.blockSizes) return false;
  const double frameBits = static_cast<double>(setup.bitRate) * setup.frameLength / setup.sampleRate;
  return frameBits >= kLeastShortBlockBits * (1 << k) * setup.channels;
}

// How far a segment's high-passed energy must rise over the ones before to call for short
// blocks: 4.8 dB where bits are plenty, so that a piano's or an orchestra's attacks switch
// too (PEAQ, five clips, median ODG at 128 kbit/s -1.27 at 10 dB, -0.60 at 4.8 dB, -1.29 at
// 3 dB; at 96 kbit/s -2.19 and -1.60); 10 dB where they are few, since short blocks cost
// more than they gain there (64 kbit/s: -2.52 at 10 dB, -2.68 at 7 dB, -3.05 at 4.8 dB).
double Encoder::OnsetRatio(const StreamSetup& setup) { return BitsPerSample(setup) < kFewBits ? 10.0 : 3.0; }

// The size of the next frame's blocks, from onsets in its span (its blocks' middle
// halves): the first difference of the channels' sum, its energy in eighths of a frame,
// against the mean of the four eighths before. More than the onset ratio over it (and above
// a floor) is an onset; one 30 dB over it, where bits are plenty, calls for blocks half as
// long again (PEAQ at 128 kbit/s, seven clips: band -1.84 to -1.77, clicks over an organ
// -1.30 to -1.18, castanets -1.22 to -1.21; 20 or 25 dB cost the band more than they gain).
int32_t Encoder::DetectOnset() {
  const int32_t f = setup_.frameLength, segment = f / 8;
  double peak = 0;
  for (int32_t i = 0; i < 8; ++i) {
    const int32_t start = 3 * f / 2 + i * segment;
    double energy = 0;
    for (int32_t n = start; n < start + segment; ++n) {
      double d = 0;
      for (int32_t ch = 0; ch < setup_.channels; ++ch) d += input_[ch][n] - input_[ch][n - 1];
      energy += d * d;
    }
    energy /= segment;
    const double before = 0.25 * (onsetHistory_[0] + onsetHistory_[1] + onsetHistory_[2] + onsetHistory_[3]);
    if (energy > kOnsetFloor) peak = std::max(peak, energy / std::max(before, kOnsetFloor * 1e-12));
    for (int32_t j = 0; j < 3; ++j) onsetHistory_[j] = onsetHistory_[j + 1];
    onsetHistory_[3] = energy;
  }
  if (peak <= onsetRatio_ || shortSize_ == 0) return 0;
  return peak > kSharpOnsetRatio ? sharpSize_ : shortSize_;
}

// Block `index` of size k of the frame being coded, in the decoder's coefficient scale:
// its 2L input samples (centred in the frame's span) under the window its neighbours give,
// through the orthonormal transform, times -2^15 sqrt(2/L): the decoder's inverse is the
// orthonormal one negated and divided by 2^15.
void Encoder::Analyse(int32_t size, int32_t index, int32_t previousSize, int32_t nextSize) {
  const int32_t f = setup_.frameLength, length = f >> size;
  const int32_t start = f / 2 + index * length - length / 2;
  tvqenc::BuildBlockWindow(length, std::min(length, f >> previousSize), std::min(length, f >> nextSize),
                           window_.data());
  const float gain = -kFullScale * static_cast<float>(std::sqrt(2.0 / length));
  for (int32_t ch = 0; ch < setup_.channels; ++ch) {
    for (int32_t i = 0; i < 2 * length; ++i) scratch_[i] = input_[ch][start + i] * window_[i];
    mdct_[size]->Forward(scratch_.data(), coefs_[ch].data());
    for (int32_t k = 0; k < length; ++k) coefs_[ch][k] *= gain;
  }
  if (setup_.noiseCoding && noiseTuning_.enabled) {
    for (int32_t ch = 0; ch < setup_.channels; ++ch) {
      temporalPeak_[ch] = TopTemporalPeak(start, length, ch, 0.0f);
      if (setup_.channels == 2) midSideTemporalPeak_[ch] = TopTemporalPeak(start, length, 0, ch == 0 ? 1.0f : -1.0f);
    }
  }
  cut_ = CodedEnd(length);
  for (int32_t ch = 0; ch < setup_.channels; ++ch) {
    std::copy(coefs_[ch].begin(), coefs_[ch].begin() + length, spectrum_[ch].begin());
    std::fill(coefs_[ch].begin() + cut_, coefs_[ch].begin() + length, 0.0f);
  }
}

int64_t Encoder::NextBudget() {
  budgetRemainder_ += budgetNumerator_;
  const int64_t bits = budgetRemainder_ / budgetDenominator_;
  budgetRemainder_ %= budgetDenominator_;
  return bits;
}

// A frame's target: its budget, scaled by how its perceptual entropy compares with the
// running mean (0.6 to 2.0 times); never more than the budget and the reservoir together
// nor than the packets let one frame take, and never so little that the reservoir would
// hold more than its limit.
int64_t Encoder::FrameTarget(int64_t budget, double entropy) {
  meanEntropy_ = meanEntropy_ <= 0 ? std::max(entropy, 1.0) : 0.95 * meanEntropy_ + 0.05 * entropy;
  const double need = std::clamp(entropy / std::max(meanEntropy_, 1.0), kLeastNeed, kMostNeed);
  const int64_t available = budget + reservoir_;
  const int64_t wanted = std::clamp(static_cast<int64_t>(budget * need), available - reservoirMax_, available);
  return std::min(wanted, packer_.NextFrameCap());
}

void Encoder::PlanBlock(const double (*thresholds)[kMaxBands], BlockPlan* plan) {
  plan->channels = setup_.channels;
  for (int32_t ch = 0; ch < setup_.channels; ++ch) {
    plan->channel[ch].coded = true;
    plan->channel[ch].padEscapes = 0;
    ExponentsFromThresholds(*plan->layout, thresholds[ch], plan->channel[ch].exponents);
  }
}

// How unevenly the block's top is spread in time: its input span (channel ch, or with
// `other` times the second channel added) through four first differences (a high-pass,
// 24 dB down at half the frequency, below a quarter of the rate), under the block's window
// squared, its energy in eighths: the largest over their mean.
double Encoder::TopTemporalPeak(int32_t start, int32_t length, int32_t ch, float other) const {
  const float* a = input_[ch].data() + start;
  const float* b = input_[setup_.channels - 1].data() + start;
  double eighths[8] = {}, all = 0;
  const int32_t span = 2 * length, eighth = span / 8;
  for (int32_t n = 4; n < span; ++n) {
    auto x = [&](int32_t i) { return static_cast<double>(a[i]) + other * b[i]; };
    const double d = x(n) - 4 * x(n - 1) + 6 * x(n - 2) - 4 * x(n - 3) + x(n - 4);
    const double e = d * d * window_[n] * window_[n];
    eighths[n / eighth] += e;
    all += e;
  }
  if (all <= 0) return 0;
  return *std::max_element(eighths, eighths + 8) / (all / 8);
}

// Which bands above the noise split go as noise (see NoiseBandTuning), each at the RMS
// of the band's coefficients, before the cut to the coded spectrum.
void Encoder::ChooseNoiseBands(const std::vector<float>* spectrum, const double (*thresholds)[kMaxBands],
                               const double* temporalPeak, BlockPlan* plan) {
  const BlockLayout& layout = *plan->layout;
  const bool on = setup_.noiseCoding && noiseTuning_.enabled;
  const double mostOver = std::pow(10.0, noiseTuning_.mostOverThresholdDb / 10.0);
  for (int32_t ch = 0; ch < plan->channels; ++ch) {
    ChannelPlan& c = plan->channel[ch];
    c.noiseBands = 0;
    std::fill(c.noise, c.noise + kMaxHighBands, false);
    if (!on || temporalPeak[ch] > noiseTuning_.mostTemporalPeak) continue;
    const float* x = spectrum[ch].data();
    for (int32_t j = 0; j < layout.highBandCount; ++j) {
      const int32_t from = layout.highBandFirst[j], width = layout.highBandWidths[j];
      double sum = 0;
      for (int32_t k = from; k < from + width; ++k) sum += static_cast<double>(x[k]) * x[k];
      const double mean = sum / width, threshold = thresholds[ch][layout.highBandOwner[j]];
      if (!(mean > threshold) || mean <= 0) continue;  // nothing heard there: nothing to stand in for
      const bool aboveCut = from >= cut_;
      if (!aboveCut && mean > threshold * mostOver) continue;
      double logSum = 0;
      for (int32_t k = from; k < from + width; ++k)
        logSum += std::log(static_cast<double>(x[k]) * x[k] + 1e-9 * mean);
      if (std::exp(logSum / width) < noiseTuning_.minFlatness * mean) continue;
      c.noise[j] = true;
      c.noiseRms[j] = static_cast<float>(std::sqrt(mean));
      ++c.noiseBands;
    }
    SetNoiseLevels(layout, cut_, &c);  // coefficients from cut_ up are coded as zeros
  }
}

// The smallest total gain (finest steps) whose block fits target bits; bits fall as the
// gain rises, so a bisection finds it. ceiling: the most the frame has left for the block;
// roomShare: that shared evenly among the blocks still to come; needsFiller: the block
// must carry filler.
void Encoder::ChooseGain(int64_t target, int64_t ceiling, int64_t roomShare, bool needsFiller,
                         const std::vector<float>* coefs, BlockPlan* plan) {
  auto fits = [&](int32_t gain) {
    plan->gain = gain;
    bool ok = true;
    for (int32_t ch = 0; ch < setup_.channels; ++ch) ok = Quantise(setup_, coefs[ch].data(), plan, ch) && ok;
    return ok && BlockBits(setup_, *plan) <= target;
  };
  int32_t low = 1, high = kHighestGain;
  // A block whose share of the frame's target cannot hold even its coarsest steps (the
  // blocks before spent more than theirs: an onset's) takes an even share of what the frame
  // can still hold instead, rather than going silent.
  if (!fits(high) && roomShare > target) target = roomShare;
  if (!fits(high)) {
    // Not even the coarsest steps fit: the block is silent, its channels uncoded. Only
    // where filler must follow (the frame's last block, with more saved than the reservoir
    // keeps) and the frame has room are its zeros coded, at the finest gain, where the
    // small noise a noise-coding decoder adds to coded values is quietest.
    plan->gain = 1;
    for (int32_t ch = 0; ch < setup_.channels; ++ch) {
      std::fill(plan->channel[ch].values, plan->channel[ch].values + plan->layout->length, 0);
    }
    if (!needsFiller || BlockBits(setup_, *plan) > ceiling)
      for (int32_t ch = 0; ch < setup_.channels; ++ch) plan->channel[ch].coded = false;
    return;
  }
  while (low < high) {
    const int32_t mid = (low + high) / 2;
    if (fits(mid)) high = mid;
    else low = mid + 1;
  }
  fits(high);
  if (!plan->reuseExponents) SpendOnBands(target, coefs, plan);
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
    int64_t channelBits = ChannelBits(setup_, *plan, ch);
    for (int32_t b = 0; b < count && target - used > 8; ++b) {
      const int32_t e = c.exponents[b] - 1;
      // The step from the band before (the decoder's start value before the first) and to
      // the band after must stay within the exponent code's reach.
      const int32_t before = b > 0 ? c.exponents[b - 1] : kFirstExponent;
      if (e >= top - 1 || e < kLowestExponent || before - e > kLargestExponentStep) continue;
      if (HoldsNoise(*plan->layout, c, b)) continue;  // its exponent sets the noise's level
      if (b + 1 < count && c.exponents[b + 1] - e > kLargestExponentStep) continue;
      c.exponents[b] = e;
      bool changed = false;
      const bool ok = QuantiseBand(coefs[ch].data(), plan, ch, b, &changed);
      // A band whose values stay as they were gains nothing from the finer step.
      const int64_t bits = changed ? ChannelBits(setup_, *plan, ch) : 0;
      if (changed && ok && used - channelBits + bits <= target) {
        used += bits - channelBits;
        channelBits = bits;
      } else {
        c.exponents[b] = e + 1;
        QuantiseBand(coefs[ch].data(), plan, ch, b, &changed);
      }
    }
  }
}

// Bits saved beyond what the reservoir keeps go into zero-valued escapes after each
// channel's last value of the frame's last block: the decoder reads them as zeros.
// used: the frame's bits, before: those of its blocks before this one.
void Encoder::SpendSurplus(int64_t available, int64_t limit, int64_t before, BlockPlan* plan, int64_t* used) {
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
    *used = before + BlockBits(setup_, *plan);
    stats_.fillerBits += count * escapeBits;
  }
}

Result Encoder::EncodeFrame(const float* const* planes) noexcept {
  if (!open_ || finished_) return Result::kWrongState;
  try {
    const int32_t f = setup_.frameLength;
    for (int32_t ch = 0; ch < setup_.channels; ++ch) {
      std::copy(input_[ch].begin() + f, input_[ch].end(), input_[ch].begin());
      std::copy(planes[ch], planes[ch] + f, input_[ch].begin() + 2 * f);
    }
    pendingSize_ = nextSize_;
    nextSize_ = DetectOnset();
    if (framesIn_++ > 0) EncodePending();
  } catch (const std::bad_alloc&) {
    return Result::kNoMemory;
  }
  return Result::kOk;
}

// Codes the frame in the middle of the input: its blocks one after another, the frame's
// target shared among them, filler (if any) in the last.
void Encoder::EncodePending() {
  const int32_t size = pendingSize_;
  const int32_t blocks = 1 << size;
  const int32_t nextFrameSize = nextSize_;
  if (size > 0) ++stats_.shortFrames;
  if (keepRecon_) {
    for (int32_t ch = 0; ch < setup_.channels; ++ch)
      std::fill(frameOut_[ch].begin() + setup_.frameLength, frameOut_[ch].end(), 0.0f);
  }

  // The frame's need: its blocks' perceptual entropy, measured as they are coded; the
  // target is set from the first block's share scaled up to the frame.
  const int64_t budget = NextBudget();
  const int64_t available = budget + reservoir_;
  const int64_t cap = std::min(available, packer_.NextFrameCap());
  const bool restate = packer_.NextFrameIsFirstInPacket();
  frameBits_.Clear();
  int64_t used = 0, target = 0;
  for (int32_t j = 0; j < blocks; ++j) {
    BlockPlan sizes;
    sizes.variableSizes = true;
    sizes.restateSizes = restate && j == 0;
    sizes.sizeBits = setup_.blockSizeBits;
    sizes.previousSize = lastSize_;
    sizes.size = size;
    sizes.nextSize = j + 1 < blocks ? size : nextFrameSize;
    Analyse(size, j, sizes.previousSize, sizes.nextSize);
    if (j == 0) {
      const BlockLayout& layout = setup_.layout[size];
      double entropy = 0, power[kMaxBands], threshold[kMaxBands];
      for (int32_t ch = 0; ch < setup_.channels; ++ch) {
        BandPowers(layout, coefs_[ch].data(), power);
        model_->Thresholds(layout, power, threshold);
        entropy += PerceptualEntropy(layout, power, threshold);
      }
      target = std::min(FrameTarget(budget, entropy * blocks), cap);
    }
    const int64_t blockTarget = (target - used) / (blocks - j);
    EncodeBlock(sizes, j, blockTarget, available, blocks - j, &used);
    lastSize_ = size;
  }
  packer_.AddFrame(frameBits_);
  reservoir_ = available - used;
  ++stats_.frames;
  stats_.frameBits += used;
  stats_.largestReservoir = std::max(stats_.largestReservoir, reservoir_);
  stats_.smallestReservoir = std::min(stats_.smallestReservoir, reservoir_);
  if (keepRecon_) EmitReconstruction();
}

// A shorter block may keep the exponents the decoder holds where every channel is coded
// and holds exponents of this size and stereo coding, and its own would differ from them
// by little in every band: the bits go to the values instead.
bool Encoder::CanReuseExponents(const BlockPlan& plan) const {
  constexpr int32_t kMostChange = 12;  // 15 dB; measured against 6, 20 and always
  if (plan.size == 0) return false;
  for (int32_t ch = 0; ch < plan.channels; ++ch) {
    const ChannelPlan& c = plan.channel[ch];
    if (!c.coded || heldSize_[ch] != plan.size || heldMidSide_[ch] != plan.midSide) return false;
    for (int32_t b = 0; b < plan.layout->bandCount; ++b)
      if (std::abs(c.exponents[b] - heldExponents_[ch][b]) > kMostChange) return false;
  }
  return true;
}

// One block: thresholds, left/right against mid/side, the gain, filler in the frame's last
// block, then its bits appended to the frame.
void Encoder::EncodeBlock(const BlockPlan& sizes, int32_t index, int64_t target, int64_t frameAvailable,
                          int32_t blocksLeft, int64_t* used) {
  const bool lastBlock = blocksLeft == 1;
  const BlockLayout& layout = setup_.layout[sizes.size];
  double power[kMaxChannels][kMaxBands], thresholds[kMaxChannels][kMaxBands];
  for (int32_t ch = 0; ch < setup_.channels; ++ch) {
    BandPowers(layout, coefs_[ch].data(), power[ch]);
    model_->Thresholds(layout, power[ch], thresholds[ch]);
  }
  auto start = [&](BlockPlan* p, bool midSide) {
    const BlockPlan keep = sizes;
    p->reuseExponents = false;
    p->variableSizes = keep.variableSizes;
    p->restateSizes = keep.restateSizes;
    p->sizeBits = keep.sizeBits;
    p->previousSize = keep.previousSize;
    p->size = keep.size;
    p->nextSize = keep.nextSize;
    p->layout = &layout;
    p->midSide = midSide;
  };
  BlockPlan* plan = plan_.get();
  start(plan, false);
  PlanBlock(thresholds, plan);
  ChooseNoiseBands(spectrum_, thresholds, temporalPeak_, plan);
  const int64_t ceiling = std::min(frameAvailable, packer_.NextFrameCap()) - *used;
  const int64_t roomShare = ceiling / blocksLeft;
  const bool needsFiller = lastBlock && frameAvailable - *used > reservoirMax_;
  ChooseGain(target, ceiling, roomShare, needsFiller, coefs_, plan);
  if (setup_.channels == 2) {
    // Mid/side: the noise of both reaches each side, so each gets half the lower threshold.
    for (int32_t k = 0; k < layout.length; ++k) {
      midSide_[0][k] = 0.5f * (coefs_[0][k] + coefs_[1][k]);
      midSide_[1][k] = 0.5f * (coefs_[0][k] - coefs_[1][k]);
    }
    if (setup_.noiseCoding && noiseTuning_.enabled) {
      for (int32_t k = 0; k < layout.length; ++k) {
        midSideSpectrum_[0][k] = 0.5f * (spectrum_[0][k] + spectrum_[1][k]);
        midSideSpectrum_[1][k] = 0.5f * (spectrum_[0][k] - spectrum_[1][k]);
      }
    }
    double shared[kMaxChannels][kMaxBands];
    for (int32_t b = 0; b < layout.bandCount; ++b)
      shared[0][b] = shared[1][b] = 0.5 * std::min(thresholds[0][b], thresholds[1][b]);
    BlockPlan* ms = midSidePlan_.get();
    start(ms, true);
    PlanBlock(shared, ms);
    ChooseNoiseBands(midSideSpectrum_, shared, midSideTemporalPeak_, ms);
    ChooseGain(target, ceiling, roomShare, needsFiller, midSide_, ms);
    // Left/right noise over its own thresholds against mid/side noise over the lower ones.
    if (NoiseOverThresholdDb(*ms) < NoiseOverThresholdDb(*plan)) {
      plan = ms;
      ++stats_.midSideBlocks;
    }
  }
  if (CanReuseExponents(*plan)) {
    BlockPlan* reuse = plan == plan_.get() ? midSidePlan_.get() : plan_.get();
    start(reuse, plan->midSide);
    for (int32_t ch = 0; ch < setup_.channels; ++ch) {
      reuse->channel[ch] = plan->channel[ch];
      std::copy(heldExponents_[ch], heldExponents_[ch] + layout.bandCount, reuse->channel[ch].exponents);
      SetNoiseLevels(layout, -1, &reuse->channel[ch]);
    }
    reuse->reuseExponents = true;
    ChooseGain(target, ceiling, roomShare, needsFiller, plan->midSide ? midSide_ : coefs_, reuse);
    plan = reuse;
    ++stats_.reusedExponents;
  }
  if (!plan->reuseExponents) {
    for (int32_t ch = 0; ch < setup_.channels; ++ch) {
      if (!plan->channel[ch].coded) continue;
      std::copy(plan->channel[ch].exponents, plan->channel[ch].exponents + layout.bandCount, heldExponents_[ch]);
      heldSize_[ch] = plan->size;
      heldMidSide_[ch] = plan->midSide;
    }
  }
  ++stats_.blocks;
  for (int32_t ch = 0; ch < setup_.channels; ++ch)
    if (plan->channel[ch].coded) stats_.noiseBands += plan->channel[ch].noiseBands;
  int64_t frameUsed = *used + BlockBits(setup_, *plan);
  if (lastBlock) SpendSurplus(frameAvailable, std::min(frameAvailable, packer_.NextFrameCap()), *used, plan, &frameUsed);
  WriteBlock(setup_, *plan, &frameBits_);
  *used = frameUsed;
  if (keepRecon_) Reconstruct(*plan, index);
}

// What the decoder does with a block: coefficients (with its noise), the mid/side
// butterfly, the inverse transform, the block's window, added into the frame's overlap
// buffer at the block's place (the part past the last block was cleared for it).
void Encoder::Reconstruct(const BlockPlan& plan, int32_t index) {
  const int32_t f = setup_.frameLength, length = plan.layout->length;
  float* coefs[kMaxChannels] = {scratch_.data(), scratch2_.data()};
  for (int32_t ch = 0; ch < setup_.channels; ++ch)
    DecodedCoefficients(setup_, plan, ch, &noiseIndex_, coefs[ch]);
  if (plan.midSide) {
    for (int32_t k = 0; k < length; ++k) {
      const float a = coefs[0][k], b = coefs[1][k];
      coefs[0][k] = a + b;
      coefs[1][k] = a - b;
    }
  }
  // window_ still holds this block's analysis window, the decoder's for it.
  std::vector<float> half(length), full(2 * length);
  const int32_t start = f / 2 + index * length - length / 2;
  for (int32_t ch = 0; ch < setup_.channels; ++ch) {
    imdct_[plan.size]->Run(coefs[ch], half.data());
    // The full output from its middle half: odd about L/2, even about 3L/2.
    for (int32_t j = 0; j < length; ++j) full[length / 2 + j] = half[j];
    for (int32_t j = 0; j < length / 2; ++j) full[j] = -full[length - 1 - j];
    for (int32_t j = 3 * length / 2; j < 2 * length; ++j) full[j] = full[3 * length - 1 - j];
    float* out = frameOut_[ch].data() + start;
    for (int32_t j = 0; j < 2 * length; ++j) out[j] += full[j] * window_[j];
  }
}

// The frame's output: the first half of the overlap buffer; the second moves down.
void Encoder::EmitReconstruction() {
  const int32_t f = setup_.frameLength;
  for (int32_t ch = 0; ch < setup_.channels; ++ch) {
    float* out = frameOut_[ch].data();
    recon_[ch].insert(recon_[ch].end(), out, out + f);
    std::copy(out + f, out + 2 * f, out);
  }
}

Result Encoder::Finish() noexcept {
  if (!open_ || finished_) return Result::kWrongState;
  try {
    // The last frame is coded with silence after it.
    if (framesIn_ > 0) {
      const int32_t f = setup_.frameLength;
      for (int32_t ch = 0; ch < setup_.channels; ++ch) {
        std::copy(input_[ch].begin() + f, input_[ch].end(), input_[ch].begin());
        std::fill(input_[ch].begin() + 2 * f, input_[ch].end(), 0.0f);
      }
      pendingSize_ = nextSize_;
      nextSize_ = 0;
      EncodePending();
    }
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
