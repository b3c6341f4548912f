// The stand-in's own file container: a 48-byte little-endian header followed by the PCM
// exactly as it was written. Portable: no Windows headers, fixed-width fields only.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vwma {

constexpr std::size_t kHeaderSize = 48;
constexpr std::size_t kPcmFormatSize = 18;     // a WAVEFORMATEX without extra bytes
constexpr uint32_t kUnfinished = 0xFFFFFFFFu;  // PCM byte count until Finish patches it

// The PCM format record in the field order of WAVEFORMATEX.
struct PcmFormat {
  uint16_t formatTag = 0;
  uint16_t channels = 0;
  uint32_t samplesPerSec = 0;
  uint32_t avgBytesPerSec = 0;
  uint16_t blockAlign = 0;
  uint16_t bitsPerSample = 0;
  uint16_t extraSize = 0;
};

struct ContainerHeader {
  uint32_t bitRate = 0;     // compressed bit rate, bit/s
  uint32_t sampleRate = 0;  // compressed sampling rate, Hz
  uint32_t channels = 0;    // compressed channel count
  uint8_t pcmFormat[kPcmFormatSize] = {};  // the record given to SetInputFormat, as given
  uint32_t pcmBytes = kUnfinished;
  uint32_t durationMs = 0;
};

PcmFormat DecodePcmFormat(const uint8_t (&bytes)[kPcmFormatSize]);

void EncodeHeader(const ContainerHeader& header, uint8_t (&out)[kHeaderSize]);

// False when the bytes are not a header of this container (magic or header size).
bool DecodeHeader(const uint8_t (&bytes)[kHeaderSize], ContainerHeader* header);

// PCM bytes × 1000 / avgBytesPerSec, rounded down; 0 when avgBytesPerSec is 0;
// 0xFFFFFFFF when the true value does not fit 32 bits.
uint32_t DurationMs(uint32_t pcmBytes, uint32_t avgBytesPerSec);

// The writer's input rule: PCM (tag 1), 8 or 16 bits, 1 or 2 channels, and block
// alignment and byte rate consistent with them.
bool IsAcceptedPcm(const PcmFormat& format);

// The writer's output rule: bitRate is a whole number of kbit/s and the triple is one
// of the 34 offered encodings.
bool IsOfferedEncoding(uint32_t bitRate, uint32_t sampleRate, uint32_t channels);

}  // namespace vwma
