// The WMA plug-in's portable core: the table of output encodings, the mapping of a
// stream back to a row, the decimal text of the options string, the PCM record handed
// to the encoder and the host side of the one-block hand-off. No platform headers:
// it is unit-tested natively and compiled freestanding into the plug-in.
#pragma once

#include <stddef.h>
#include <stdint.h>

// One output encoding; the row's 1-based position in WmaFormatTable is the options word.
struct WmaFormatRow {
  uint32_t kbps;        // compressed bit rate in units of 1000 bit/s
  uint32_t sampleRate;  // Hz
  uint32_t channels;    // 1 mono, 2 stereo
};

constexpr uint32_t kWmaFormatCount = 34;
// The row an options word of 0 (no choice made) stands for: 96 kbps, 44100 Hz, stereo.
constexpr uint32_t kWmaDefaultRow = 30;

extern const WmaFormatRow WmaFormatTable[kWmaFormatCount];

// The row an export uses: 0 and words naming no row (above 34) both give the default.
const WmaFormatRow& WmaExportRow(uint32_t options);

// The row the options dialog starts on: 0 gives the default; anything else is kept,
// so a word naming no row opens the dialog with nothing selected.
uint32_t WmaDialogInitialRow(uint32_t options);

// The options word whose row has the bit rate nearest to bitRate (ties to the lower)
// and exactly the stream's channels and sampling rate; 0 when that bit rate is not
// offered for them.
uint32_t MatchWmaFormat(uint32_t bitRate, uint16_t channels, uint32_t sampleRate);

// Longest FormatDecimal text with its terminator: a minus sign, ten digits, zero byte.
constexpr size_t kDecimalTextSize = 12;
// Writes value as zero-terminated decimal text; returns the number of characters
// written, the terminator not counted.
size_t FormatDecimal(int32_t value, char* text);

// The options string of an open input: "<bitRate> bps". text needs kOptionsTextSize bytes.
constexpr size_t kOptionsTextSize = kDecimalTextSize + 4;
void FormatOptionsText(uint32_t bitRate, char* text);

// The fields of the 18-byte PCM format record handed to the encoder for the host's
// sample type (integer products as the host's values give them, 32-bit).
struct WmaPcmFields {
  uint16_t formatTag;
  uint16_t channels;
  uint32_t samplesPerSec;
  uint32_t avgBytesPerSec;
  uint16_t blockAlign;
  uint16_t bitsPerSample;
  uint16_t extraSize;
};
WmaPcmFields MakeWmaPcmFields(uint32_t sampleRate, uint16_t bitsPerSample, uint16_t channels);

// The byte count of 16-bit PCM for durationMs + 1 milliseconds of the stream, rounded to
// the nearest (halves up), as the host's signed 32-bit count: held at 0x7FFFFFFF where it
// would not fit, so a long stream never reads as negative or empty.
uint32_t WmaPcmByteCount(uint32_t durationMs, uint16_t channels, uint32_t sampleRate);

// The host's side of the one-block hand-off. The port owns the block and the waiting:
//   uint32_t Filled(), ReadPos(); void SetReadPos(uint32_t);
//   bool Ended()            the stream has ended, no more blocks will come
//   void AwaitBlock()       ask for the next block and wait until it, or the end, arrives
//   bool CopyOut(uint32_t from, uint8_t* to, uint32_t n)   copy from the current block;
//                                       false when the block cannot be reached (the read
//                                       then ends with what it has)
// Stores up to want bytes into out, spanning as many blocks as needed; returns fewer
// only at the end of the stream. A read of 0 bytes still waits for a block when the
// current one is drained, so that the end of the stream is seen.
template <class Port>
uint32_t ReadHandoff(Port& port, uint8_t* out, uint32_t want) {
  uint32_t total = 0;
  uint32_t remaining = want;
  for (;;) {
    if (port.ReadPos() == port.Filled()) {
      if (port.Ended()) return total;
      port.AwaitBlock();
      if (port.ReadPos() == port.Filled()) {
        if (port.Ended()) return total;
        continue;  // an empty block: ask again
      }
    }
    const uint32_t left = port.Filled() - port.ReadPos();
    if (remaining <= left) {
      if (!port.CopyOut(port.ReadPos(), out + total, remaining)) return total;
      port.SetReadPos(port.ReadPos() + remaining);
      return total + remaining;
    }
    if (!port.CopyOut(port.ReadPos(), out + total, left)) return total;
    total += left;
    remaining -= left;
    port.SetReadPos(port.Filled());
  }
}

// The delivery side of the hand-off: puts a block of n bytes into the buffer, allocating
// it at the first block and growing it (never shrinking) when a larger one arrives.
// The port owns the memory:
//   bool HasBuffer(); uint32_t Capacity();
//   bool Allocate(uint32_t n), Grow(uint32_t n)   exactly n bytes; set Capacity on success
//   bool CopyIn(const void* data, uint32_t n)
// False when the memory cannot be had: then nothing has been copied.
template <class Port>
bool StoreHandoffBlock(Port& port, const void* data, uint32_t n) {
  if (n == 0) return true;
  if (!port.HasBuffer()) {
    if (!port.Allocate(n)) return false;
  } else if (port.Capacity() < n) {
    if (!port.Grow(n)) return false;
  }
  return port.CopyIn(data, n);
}
