#include "container.h"

#include <cstring>

namespace vwma {
namespace {

const uint8_t kMagic[4] = {'V', 'W', 'M', 'A'};

// Field offsets of the header.
constexpr std::size_t kOffHeaderSize = 4;
constexpr std::size_t kOffBitRate = 8;
constexpr std::size_t kOffSampleRate = 12;
constexpr std::size_t kOffChannels = 16;
constexpr std::size_t kOffPcmFormat = 20;
constexpr std::size_t kOffPcmBytes = 40;
constexpr std::size_t kOffDuration = 44;
static_assert(kOffPcmFormat + kPcmFormatSize + 2 == kOffPcmBytes, "2 zero bytes pad the format");
static_assert(kOffDuration + 4 == kHeaderSize, "header is 48 bytes");

struct Encoding {
  uint16_t kbps;
  uint32_t sampleRate;
  uint16_t channels;
};

// The 34 encodings the writer offers (kbit/s, Hz, channels).
const Encoding kOffered[] = {
    {5, 8000, 1},    {6, 8000, 1},    {8, 8000, 1},    {8, 11025, 1},   {10, 11025, 1},
    {10, 16000, 1},  {12, 8000, 2},   {12, 16000, 1},  {16, 16000, 1},  {16, 16000, 2},
    {16, 22050, 1},  {20, 16000, 2},  {20, 22050, 1},  {20, 22050, 2},  {20, 32000, 1},
    {22, 22050, 2},  {22, 32000, 2},  {32, 22050, 2},  {32, 32000, 1},  {32, 32000, 2},
    {32, 44100, 1},  {36, 32000, 2},  {40, 32000, 2},  {44, 32000, 2},  {48, 32000, 2},
    {48, 44100, 2},  {64, 32000, 2},  {64, 44100, 2},  {80, 44100, 2},  {96, 44100, 2},
    {128, 44100, 2}, {128, 48000, 2}, {160, 44100, 2}, {160, 48000, 2},
};
static_assert(sizeof(kOffered) / sizeof(kOffered[0]) == 34, "34 encodings");

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

PcmFormat DecodePcmFormat(const uint8_t (&b)[kPcmFormatSize]) {
  PcmFormat f;
  f.formatTag = Get16(b + 0);
  f.channels = Get16(b + 2);
  f.samplesPerSec = Get32(b + 4);
  f.avgBytesPerSec = Get32(b + 8);
  f.blockAlign = Get16(b + 12);
  f.bitsPerSample = Get16(b + 14);
  f.extraSize = Get16(b + 16);
  return f;
}

void EncodeHeader(const ContainerHeader& h, uint8_t (&out)[kHeaderSize]) {
  std::memset(out, 0, sizeof out);
  std::memcpy(out, kMagic, sizeof kMagic);
  Put32(out + kOffHeaderSize, static_cast<uint32_t>(kHeaderSize));
  Put32(out + kOffBitRate, h.bitRate);
  Put32(out + kOffSampleRate, h.sampleRate);
  Put32(out + kOffChannels, h.channels);
  std::memcpy(out + kOffPcmFormat, h.pcmFormat, kPcmFormatSize);
  Put32(out + kOffPcmBytes, h.pcmBytes);
  Put32(out + kOffDuration, h.durationMs);
}

bool DecodeHeader(const uint8_t (&b)[kHeaderSize], ContainerHeader* h) {
  if (std::memcmp(b, kMagic, sizeof kMagic) != 0) return false;
  if (Get32(b + kOffHeaderSize) != kHeaderSize) return false;
  h->bitRate = Get32(b + kOffBitRate);
  h->sampleRate = Get32(b + kOffSampleRate);
  h->channels = Get32(b + kOffChannels);
  std::memcpy(h->pcmFormat, b + kOffPcmFormat, kPcmFormatSize);
  h->pcmBytes = Get32(b + kOffPcmBytes);
  h->durationMs = Get32(b + kOffDuration);
  return true;
}

uint32_t DurationMs(uint32_t pcmBytes, uint32_t avgBytesPerSec) {
  if (avgBytesPerSec == 0) return 0;
  const uint64_t ms = static_cast<uint64_t>(pcmBytes) * 1000u / avgBytesPerSec;
  return ms > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(ms);
}

bool IsAcceptedPcm(const PcmFormat& f) {
  if (f.formatTag != 1) return false;
  if (f.bitsPerSample != 8 && f.bitsPerSample != 16) return false;
  if (f.channels != 1 && f.channels != 2) return false;
  const uint32_t align = f.channels * (f.bitsPerSample / 8u);
  if (f.blockAlign != align) return false;
  return static_cast<uint64_t>(f.samplesPerSec) * align == f.avgBytesPerSec;
}

bool IsOfferedEncoding(uint32_t bitRate, uint32_t sampleRate, uint32_t channels) {
  if (bitRate % 1000 != 0) return false;
  for (const Encoding& e : kOffered) {
    if (e.kbps == bitRate / 1000 && e.sampleRate == sampleRate && e.channels == channels) {
      return true;
    }
  }
  return false;
}

}  // namespace vwma
