// The AUD chunk codec: 4-bit IMA ADPCM, one code per mono 16-bit sample, two codes per
// byte (earlier sample in the low nibble), in chunks of at most 1024 samples that each
// start with an 8-byte little-endian header. The state runs on from chunk to chunk.
//
// Pure and freestanding: no C library calls, no allocation, so the plug-in that links it
// can be built without any runtime library. Include <stdint.h> types only.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define AUD_CHUNK_ID 0x0000DEAFu
#define AUD_CHUNK_HEADER_BYTES 8u
#define AUD_CHUNK_MAX_SAMPLES 1024u
#define AUD_CHUNK_MAX_CODE_BYTES 512u
#define AUD_STEP_INDEX_MAX 88

// Codec state carried through a whole file; starts at {0, 0}.
// predictor stays within -32768..32767, stepIndex within 0..88.
typedef struct AudCodecState {
  int32_t predictor;
  int32_t stepIndex;
} AudCodecState;

// A parsed chunk header (bytes 0-1 compressed size, 2-3 output size, 4-7 id).
typedef struct AudChunkHeader {
  uint16_t compressedSize;  // code bytes following the header
  uint16_t outputSize;      // PCM bytes the chunk decodes to: 2 x its sample count
  uint32_t id;              // AUD_CHUNK_ID in a valid chunk
} AudChunkHeader;

// The 89 IMA step sizes (7 .. 32767) and the 16 index adjustments by whole code.
extern const int16_t kAudStepSizes[89];
extern const int8_t kAudIndexAdjust[16];

// The reconstruction step shared by encoder and decoder: applies one 4-bit code to the
// state and returns the new predictor as the reconstructed sample.
int16_t AudApplyCode(AudCodecState* state, uint32_t code);

// Quantises one sample against the state, applies the code and returns it (0..15).
uint32_t AudEncodeSample(AudCodecState* state, int32_t sample);

// Code bytes a chunk of `samples` samples needs: (samples + 1) / 2.
uint32_t AudCodeBytesFor(uint32_t samples);

// Encodes `count` samples into (count + 1) / 2 code bytes at `codes`; an odd count leaves
// the high nibble of the last byte 0. Any count works; a chunk holds at most 1024.
void AudEncodeCodes(AudCodecState* state, const int16_t* samples, uint32_t count, uint8_t* codes);

// Writes the 8 header bytes of a chunk of `samples` (0..1024) samples.
void AudWriteChunkHeader(uint32_t samples, uint8_t out[8]);

// Encodes `samples` (0..1024) samples into one whole chunk at `out` (room for 8 + 512 bytes):
// header, then code bytes. Returns the chunk's length in bytes, 8 + (samples + 1) / 2.
uint32_t AudEncodeChunk(AudCodecState* state, const int16_t* input, uint32_t samples, uint8_t* out);

// Reads the 8 header bytes into `header`. Returns 1 when the id is AUD_CHUNK_ID, else 0.
int AudParseChunkHeader(const uint8_t bytes[8], AudChunkHeader* header);

// Samples a chunk can really yield: its announced count (outputSize / 2), lowered to the
// number of codes its compressed size holds.
uint32_t AudChunkSampleCount(const AudChunkHeader* header);

// Decodes `count` codes starting at code `firstCode` (code i lives in byte i / 2, low nibble
// for even i) of `codes` into `output`, updating the state. The caller guarantees that the
// bytes up to code firstCode + count - 1 exist.
void AudDecodeCodes(AudCodecState* state, const uint8_t* codes, uint32_t firstCode, uint32_t count,
                    int16_t* output);

// Decodes one chunk held whole in memory (`bytes`, `length` bytes from its header on) into at
// most `maxSamples` samples. Never reads beyond `length` and decodes only codes present.
// Returns the samples stored; 0 for a short or non-chunk header.
uint32_t AudDecodeChunk(AudCodecState* state, const uint8_t* bytes, uint32_t length, int16_t* output,
                        uint32_t maxSamples);

#ifdef __cplusplus
}  // extern "C"
#endif
