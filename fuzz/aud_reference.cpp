#include "aud_reference.h"

namespace fuzzref {
namespace {

const int16_t kSteps[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,   253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,   876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749,  3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493,  10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
const int8_t kAdjust[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

uint32_t Le16(const uint8_t* p) { return p[0] | (p[1] << 8u); }
uint32_t Le32(const uint8_t* p) { return Le16(p) | (Le16(p + 2) << 16u); }

}  // namespace

int16_t ImaDecode(ImaState& state, uint32_t code) {
  const int32_t step = kSteps[state.stepIndex];
  int32_t diff = step >> 3;
  if (code & 4) diff += step;
  if (code & 2) diff += step >> 1;
  if (code & 1) diff += step >> 2;
  int32_t p = (code & 8) ? state.predictor - diff : state.predictor + diff;
  if (p > 32767) p = 32767;
  if (p < -32768) p = -32768;
  state.predictor = p;
  int32_t i = state.stepIndex + kAdjust[code & 7];
  state.stepIndex = i < 0 ? 0 : (i > 88 ? 88 : i);
  return static_cast<int16_t>(p);
}

uint32_t ImaEncode(ImaState& state, int32_t sample) {
  int32_t diff = sample - state.predictor;
  uint32_t code = 0;
  if (diff < 0) {
    code = 8;
    diff = -diff;
  }
  const int32_t step = kSteps[state.stepIndex];
  if (diff >= step) { code |= 4; diff -= step; }
  if (diff >= step >> 1) { code |= 2; diff -= step >> 1; }
  if (diff >= step >> 2) code |= 1;
  ImaDecode(state, code);
  return code;
}

std::vector<AudEvent> DecodeAudChunks(const uint8_t* data, size_t size) {
  std::vector<AudEvent> events;
  ImaState state;
  size_t pos = 0;
  while (pos < size && size - pos >= 8) {
    const uint8_t* header = data + pos;
    pos += 8;
    if (Le32(header + 4) != 0xDEAFu) {
      events.push_back({true, 0});
      continue;
    }
    const uint32_t codeBytes = Le16(header);
    uint32_t samples = Le16(header + 2) / 2;
    if (samples > codeBytes * 2) samples = codeBytes * 2;  // no more samples than codes
    const size_t present = codeBytes < size - pos ? codeBytes : size - pos;
    const uint32_t codes = samples < present * 2 ? samples : static_cast<uint32_t>(present * 2);
    for (uint32_t i = 0; i < codes; ++i) {
      const uint8_t byte = data[pos + i / 2];
      events.push_back({false, ImaDecode(state, (i & 1) ? byte >> 4 : byte & 15)});
    }
    if (codes < samples) break;  // the file ends inside this chunk's codes
    pos += codeBytes;
  }
  return events;
}

void EncodeAudBlock(ImaState& state, const int16_t* samples, uint32_t bytes,
                    std::vector<std::vector<uint8_t>>& chunks) {
  // Whole 2048-byte pieces while more than one piece is left, then one chunk for the rest
  // (an odd last byte is not a sample; a lone byte still makes an empty chunk).
  uint32_t remaining = bytes;
  const int16_t* next = samples;
  while (remaining > 0) {
    const uint32_t pieceBytes = remaining > 2048 ? 2048 : remaining;
    const uint32_t n = pieceBytes / 2;
    std::vector<uint8_t> chunk(8 + (n + 1) / 2, 0);
    const uint32_t code = (n + 1) / 2, out = 2 * n;
    chunk[0] = code & 0xFF; chunk[1] = code >> 8;
    chunk[2] = out & 0xFF;  chunk[3] = out >> 8;
    chunk[4] = 0xAF; chunk[5] = 0xDE;
    for (uint32_t i = 0; i < n; ++i) {
      const uint32_t c = ImaEncode(state, next[i]);
      chunk[8 + i / 2] |= static_cast<uint8_t>((i & 1) ? c << 4 : c);
    }
    chunks.push_back(std::move(chunk));
    next += n;
    remaining -= pieceBytes;
  }
}

}  // namespace fuzzref
