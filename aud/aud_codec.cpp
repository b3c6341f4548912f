// The AUD chunk codec. Everything here is plain integer arithmetic on caller-owned memory.
#include "aud_codec.h"

constexpr int16_t kAudStepSizes[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,   253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,   876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749,  3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493,  10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

constexpr int8_t kAudIndexAdjust[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

namespace {

constexpr int32_t kStates = AUD_STEP_INDEX_MAX + 1;

constexpr int32_t ClampIndex(int32_t index) {
  return index < 0 ? 0 : index > AUD_STEP_INDEX_MAX ? AUD_STEP_INDEX_MAX : index;
}

// The reconstruction difference of a 3-bit magnitude at a given step.
constexpr int32_t Difference(int32_t step, uint32_t magnitude) {
  return (step >> 3) + ((magnitude & 4) ? step : 0) + ((magnitude & 2) ? step >> 1 : 0) +
         ((magnitude & 1) ? step >> 2 : 0);
}

// The shared step unrolled into tables, one row per step index, so that the sample loops do
// one look-up per code instead of the shifts, tests and index clamp.
struct DecodeTables {
  int32_t delta[kStates * 16];     // signed change of the predictor, by row and whole code
  uint16_t nextRow[kStates * 16];  // row (16 x step index) after the code
};

struct EncodeTables {
  int32_t threshold[kStates * 8];  // least |difference| that quantises to each magnitude, less 1
  int32_t increment[kStates * 8];  // reconstruction difference of magnitude m minus that of m - 1
  uint16_t nextRow[kStates * 8];   // row (8 x step index) after the magnitude
};

constexpr DecodeTables MakeDecodeTables() {
  DecodeTables t{};
  for (int32_t index = 0; index < kStates; ++index) {
    for (uint32_t code = 0; code < 16; ++code) {
      const int32_t d = Difference(kAudStepSizes[index], code & 7);
      t.delta[index * 16 + code] = (code & 8) ? -d : d;
      t.nextRow[index * 16 + code] = static_cast<uint16_t>(ClampIndex(index + kAudIndexAdjust[code]) * 16);
    }
  }
  return t;
}

// Quantising by successive approximation (step, half, quarter) picks the largest magnitude m
// whose threshold Difference(step, m) - (step >> 3) does not exceed |difference|.
constexpr EncodeTables MakeEncodeTables() {
  EncodeTables t{};
  for (int32_t index = 0; index < kStates; ++index) {
    const int32_t step = kAudStepSizes[index];
    for (uint32_t m = 0; m < 8; ++m) {
      t.threshold[index * 8 + m] = Difference(step, m) - (step >> 3) - 1;
      t.increment[index * 8 + m] = m ? Difference(step, m) - Difference(step, m - 1) : Difference(step, 0);
      t.nextRow[index * 8 + m] = static_cast<uint16_t>(ClampIndex(index + kAudIndexAdjust[m]) * 8);
    }
  }
  return t;
}

constexpr DecodeTables kDecode = MakeDecodeTables();
constexpr EncodeTables kEncode = MakeEncodeTables();

inline int32_t ClampSample(int32_t value) {
  value = value > 32767 ? 32767 : value;
  return value < -32768 ? -32768 : value;
}

// The shared reconstruction step, one code at a time; the tables above unroll the same step.
inline void Reconstruct(int32_t& predictor, int32_t& stepIndex, uint32_t code) {
  const int32_t difference = Difference(kAudStepSizes[stepIndex], code & 7);
  predictor = ClampSample(predictor + ((code & 8) ? -difference : difference));
  stepIndex = ClampIndex(stepIndex + kAudIndexAdjust[code & 15]);
}

// Successive approximation against the step, its half and its quarter.
inline uint32_t Quantise(int32_t predictor, int32_t stepIndex, int32_t sample) {
  int32_t difference = sample - predictor;
  uint32_t code = 0;
  if (difference < 0) {
    code = 8;
    difference = -difference;
  }
  const int32_t step = kAudStepSizes[stepIndex];
  if (difference >= step) {
    code |= 4;
    difference -= step;
  }
  if (difference >= step >> 1) {
    code |= 2;
    difference -= step >> 1;
  }
  if (difference >= step >> 2) code |= 1;
  return code;
}

inline uint16_t ReadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

inline uint32_t ReadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

int16_t AudApplyCode(AudCodecState* state, uint32_t code) {
  Reconstruct(state->predictor, state->stepIndex, code);
  return static_cast<int16_t>(state->predictor);
}

uint32_t AudEncodeSample(AudCodecState* state, int32_t sample) {
  const uint32_t code = Quantise(state->predictor, state->stepIndex, sample);
  Reconstruct(state->predictor, state->stepIndex, code);
  return code;
}

uint32_t AudCodeBytesFor(uint32_t samples) { return (samples >> 1) + (samples & 1); }

namespace {

// Quantises one sample against the predictor and the table row of the step index, applies
// the code to both and returns it.
inline uint32_t EncodeStep(int32_t& predictor, uint32_t& row, int32_t sample) {
  const int32_t difference = sample - predictor;
  const int32_t negative = difference >> 31;  // all ones below the prediction; zero codes as positive
  const int32_t magnitude = (difference ^ negative) - negative;
  // The thresholds rise with the magnitude, so the seven comparisons, made side by side, give
  // a run of all-ones masks: their count is the magnitude, and the increments they select add
  // up to its reconstruction difference. No comparison waits for another.
  const int32_t* threshold = kEncode.threshold + row;
  const int32_t* increment = kEncode.increment + row;
  const int32_t k1 = (threshold[1] - magnitude) >> 31, k2 = (threshold[2] - magnitude) >> 31;
  const int32_t k3 = (threshold[3] - magnitude) >> 31, k4 = (threshold[4] - magnitude) >> 31;
  const int32_t k5 = (threshold[5] - magnitude) >> 31, k6 = (threshold[6] - magnitude) >> 31;
  const int32_t k7 = (threshold[7] - magnitude) >> 31;
  const int32_t delta = ((increment[0] + (increment[1] & k1)) + ((increment[2] & k2) + (increment[3] & k3))) +
                        (((increment[4] & k4) + (increment[5] & k5)) + ((increment[6] & k6) + (increment[7] & k7)));
  const uint32_t m = static_cast<uint32_t>(-(((k1 + k2) + (k3 + k4)) + ((k5 + k6) + k7)));
  predictor = ClampSample(predictor + ((delta ^ negative) - negative));
  row = kEncode.nextRow[row + m];
  return m | (static_cast<uint32_t>(negative) & 8);
}

}  // namespace

void AudEncodeCodes(AudCodecState* state, const int16_t* samples, uint32_t count, uint8_t* codes) {
  int32_t predictor = state->predictor;
  uint32_t row = static_cast<uint32_t>(state->stepIndex) * 8;
  const uint32_t pairs = count / 2;
  for (uint32_t pair = 0; pair < pairs; ++pair) {  // a byte at a time: earlier sample in the low nibble
    const uint32_t low = EncodeStep(predictor, row, samples[2 * pair]);
    const uint32_t high = EncodeStep(predictor, row, samples[2 * pair + 1]);
    codes[pair] = static_cast<uint8_t>(low | (high << 4));
  }
  if (count & 1) codes[pairs] = static_cast<uint8_t>(EncodeStep(predictor, row, samples[count - 1]));
  state->predictor = predictor;
  state->stepIndex = static_cast<int32_t>(row / 8);
}

void AudWriteChunkHeader(uint32_t samples, uint8_t out[8]) {
  const uint32_t codeBytes = AudCodeBytesFor(samples);
  const uint32_t outputSize = samples * 2;
  out[0] = static_cast<uint8_t>(codeBytes);
  out[1] = static_cast<uint8_t>(codeBytes >> 8);
  out[2] = static_cast<uint8_t>(outputSize);
  out[3] = static_cast<uint8_t>(outputSize >> 8);
  out[4] = static_cast<uint8_t>(AUD_CHUNK_ID);
  out[5] = static_cast<uint8_t>(AUD_CHUNK_ID >> 8);
  out[6] = static_cast<uint8_t>(AUD_CHUNK_ID >> 16);
  out[7] = static_cast<uint8_t>(AUD_CHUNK_ID >> 24);
}

uint32_t AudEncodeChunk(AudCodecState* state, const int16_t* input, uint32_t samples, uint8_t* out) {
  if (samples > AUD_CHUNK_MAX_SAMPLES) samples = AUD_CHUNK_MAX_SAMPLES;
  AudWriteChunkHeader(samples, out);
  AudEncodeCodes(state, input, samples, out + AUD_CHUNK_HEADER_BYTES);
  return AUD_CHUNK_HEADER_BYTES + AudCodeBytesFor(samples);
}

int AudParseChunkHeader(const uint8_t bytes[8], AudChunkHeader* header) {
  header->compressedSize = ReadU16(bytes);
  header->outputSize = ReadU16(bytes + 2);
  header->id = ReadU32(bytes + 4);
  return header->id == AUD_CHUNK_ID;
}

uint32_t AudChunkSampleCount(const AudChunkHeader* header) {
  const uint32_t announced = header->outputSize >> 1;
  const uint32_t coded = static_cast<uint32_t>(header->compressedSize) * 2;
  return announced < coded ? announced : coded;
}

void AudDecodeCodes(AudCodecState* state, const uint8_t* codes, uint32_t firstCode, uint32_t count,
                    int16_t* output) {
  int32_t predictor = state->predictor;
  uint32_t row = static_cast<uint32_t>(state->stepIndex) * 16;
  const uint32_t end = firstCode + count;
  for (uint32_t i = firstCode; i < end; ++i) {
    const uint32_t code = (codes[i >> 1] >> ((i & 1) * 4)) & 15;
    predictor = ClampSample(predictor + kDecode.delta[row + code]);
    row = kDecode.nextRow[row + code];
    *output++ = static_cast<int16_t>(predictor);
  }
  state->predictor = predictor;
  state->stepIndex = static_cast<int32_t>(row / 16);
}

uint32_t AudDecodeChunk(AudCodecState* state, const uint8_t* bytes, uint32_t length, int16_t* output,
                        uint32_t maxSamples) {
  AudChunkHeader header;
  if (length < AUD_CHUNK_HEADER_BYTES || !AudParseChunkHeader(bytes, &header)) return 0;
  uint32_t count = AudChunkSampleCount(&header);
  const uint32_t presentBytes = length - AUD_CHUNK_HEADER_BYTES;  // codes actually held
  if (presentBytes < AudCodeBytesFor(count)) count = presentBytes * 2;
  if (count > maxSamples) count = maxSamples;
  AudDecodeCodes(state, bytes + AUD_CHUNK_HEADER_BYTES, 0, count, output);
  return count;
}
