#include "wma_core.h"

// Sorted by kbps, then sampleRate, then channels: the row number is what the host stores.
const WmaFormatRow WmaFormatTable[kWmaFormatCount] = {
    {5, 8000, 1},    {6, 8000, 1},    {8, 8000, 1},    {8, 11025, 1},   {10, 11025, 1},
    {10, 16000, 1},  {12, 8000, 2},   {12, 16000, 1},  {16, 16000, 1},  {16, 16000, 2},
    {16, 22050, 1},  {20, 16000, 2},  {20, 22050, 1},  {20, 22050, 2},  {20, 32000, 1},
    {22, 22050, 2},  {22, 32000, 2},  {32, 22050, 2},  {32, 32000, 1},  {32, 32000, 2},
    {32, 44100, 1},  {36, 32000, 2},  {40, 32000, 2},  {44, 32000, 2},  {48, 32000, 2},
    {48, 44100, 2},  {64, 32000, 2},  {64, 44100, 2},  {80, 44100, 2},  {96, 44100, 2},
    {128, 44100, 2}, {128, 48000, 2}, {160, 44100, 2}, {160, 48000, 2},
};

const WmaFormatRow& WmaExportRow(uint32_t options) {
  const uint32_t row = (options == 0 || options > kWmaFormatCount) ? kWmaDefaultRow : options;
  return WmaFormatTable[row - 1];
}

uint32_t WmaDialogInitialRow(uint32_t options) {
  return options == 0 ? kWmaDefaultRow : options;
}

uint32_t MatchWmaFormat(uint32_t bitRate, uint16_t channels, uint32_t sampleRate) {
  const uint32_t k = bitRate / 1000;
  uint32_t bestDistance = 0xFFFFFFFFu;
  uint32_t bestRow = 1;
  for (uint32_t row = 1; row <= kWmaFormatCount; ++row) {
    // Signed 32-bit difference, then its magnitude (as unsigned, so INT32_MIN is safe).
    const int32_t diff = static_cast<int32_t>(WmaFormatTable[row - 1].kbps - k);
    const uint32_t distance =
        diff < 0 ? 0u - static_cast<uint32_t>(diff) : static_cast<uint32_t>(diff);
    if (distance < bestDistance) {  // strictly: ties stay with the earlier, lower rate
      bestDistance = distance;
      bestRow = row;
    }
  }
  const uint32_t target = WmaFormatTable[bestRow - 1].kbps;
  uint32_t match = 0;
  for (uint32_t row = 1; row <= kWmaFormatCount; ++row) {
    const WmaFormatRow& r = WmaFormatTable[row - 1];
    if (r.kbps == target && r.channels == channels && r.sampleRate == sampleRate) match = row;
  }
  return match;
}

size_t FormatDecimal(int32_t value, char* text) {
  size_t length = 0;
  uint32_t magnitude = static_cast<uint32_t>(value);
  if (value < 0) {
    text[length++] = '-';
    magnitude = 0u - magnitude;
  }
  char scratch[16];
  size_t digits = 0;
  do {
    scratch[digits++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  while (digits != 0) text[length++] = scratch[--digits];
  text[length] = '\0';
  return length;
}

void FormatOptionsText(uint32_t bitRate, char* text) {
  char* end = text + FormatDecimal(static_cast<int32_t>(bitRate), text);
  const char suffix[] = " bps";
  for (size_t i = 0; i < sizeof suffix; ++i) end[i] = suffix[i];
}

WmaPcmFields MakeWmaPcmFields(uint32_t sampleRate, uint16_t bitsPerSample, uint16_t channels) {
  const uint32_t bytesPerSample = bitsPerSample / 8u;
  WmaPcmFields f;
  f.formatTag = 1;  // PCM
  f.channels = channels;
  f.samplesPerSec = sampleRate;
  f.avgBytesPerSec = bytesPerSample * sampleRate * channels;
  f.blockAlign = static_cast<uint16_t>(bytesPerSample * channels);
  f.bitsPerSample = bitsPerSample;
  f.extraSize = 0;
  return f;
}

uint32_t WmaPcmByteCount(uint32_t durationMs, uint16_t channels, uint32_t sampleRate) {
  const uint64_t most = 0x7FFFFFFFu;
  const uint64_t milliseconds = uint64_t{durationMs} + 1;                 // up to 2^32
  const uint64_t bytesPerSecond = uint64_t{channels} * sampleRate * 2u;  // below 2^49
  // milliseconds x bytesPerSecond / 1000 must stay below `most` + 1/2; decided before the
  // product, which could overflow 64 bits.
  if (bytesPerSecond != 0 && milliseconds > (most * 1000 + 499) / bytesPerSecond) return most;
  return static_cast<uint32_t>((milliseconds * bytesPerSecond + 500) / 1000);
}
