// Bit-packed output files. Values are written most significant bit first with no
// alignment; bits gather in a 1024-byte buffer that reaches the stream in whole
// 1024-byte writes, and the close writes the last partial byte padded with zero bits.
// Open files live in a module-wide table of 50 slots.
#pragma once

#include <cstdint>
#include <cstdio>

constexpr int32_t kBitFileSlots = 50;
constexpr int32_t kBitFileBufferBytes = 1024;

struct BitFile {
  int32_t bitCount;                     // bits held in buffer, 0..8191 between calls
  uint8_t buffer[kBitFileBufferBytes];  // bits are ORed in; zeroed at every restart
  const char* mode;                     // the caller's mode text (not copied)
  FILE* stream;
  int32_t slot;                         // this record's number in the table
  bool writeFailed;                     // a stream write failed or was short
};

// Opens path with the standard I/O mode. Returns null when the file cannot be opened,
// or when all slots are taken (then a line goes to standard error).
BitFile* OpenBitFile(const char* path, const char* mode);

// Writes the low width (0..32) bits of value. Returns 1 when value >= 2^width (signed
// comparison; meaningful for widths 0..30), else 0; the low bits are written either way.
int32_t PutBits(int32_t value, int32_t width, BitFile* file);

// Writes the lowest bit of count bytes, stepping stride bytes between them.
void PutBitArray(const uint8_t* bits, int32_t stride, int32_t count, BitFile* file);

// True when any write to the stream so far failed or was short.
bool BitFileWriteFailed(const BitFile* file);

// Writes what is left (modes containing 'w'), closes the stream and frees the slot.
// Returns true when every write and the close succeeded; false when anything was lost.
// A null file does nothing and returns false.
bool CloseBitFile(BitFile* file);
