// An independent model of the AUD chunk format for the fuzz targets: IMA ADPCM written
// from the format's description, not from the plug-in's codec, so that the two check
// each other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fuzzref {

struct ImaState {
  int32_t predictor = 0;
  int32_t stepIndex = 0;
};

// Applies one 4-bit code; returns the reconstructed sample.
int16_t ImaDecode(ImaState& state, uint32_t code);
// Quantises one sample, applies the code, returns it.
uint32_t ImaEncode(ImaState& state, int32_t sample);

// What reading the chunk data delivers, in order: samples, and a Break where a chunk header
// with a foreign id stands (a read that meets it ends there). The data ends at a short
// header or where the codes of a truncated chunk run out.
struct AudEvent {
  bool isBreak;
  int16_t sample;
};
std::vector<AudEvent> DecodeAudChunks(const uint8_t* data, size_t size);

// The chunks one host block becomes: 1024-sample chunks, the last holding the rest.
void EncodeAudBlock(ImaState& state, const int16_t* samples, uint32_t bytes,
                    std::vector<std::vector<uint8_t>>& chunks);

}  // namespace fuzzref
