// Chunk streams: cutting PCM blocks into chunks on the way out, and delivering samples from
// a run of chunks on the way in, over caller-supplied byte sinks and sources (a file in the
// plug-in, memory in tests). Portable and freestanding, like the codec; the only buffer is a
// fixed one on the stack (8-byte header + 512 code bytes).
#pragma once

#include "aud_codec.h"

#ifdef __cplusplus
extern "C" {
#endif

// Where chunks go. write returns 1 only when all `length` bytes were stored.
typedef struct AudByteSink {
  void* context;
  int (*write)(void* context, const uint8_t* bytes, uint32_t length);
} AudByteSink;

// Where chunks come from. read returns the bytes stored (fewer at the end or on failure);
// skip moves forward over `length` bytes without storing them.
typedef struct AudByteSource {
  void* context;
  uint32_t (*read)(void* context, uint8_t* bytes, uint32_t length);
  void (*skip)(void* context, uint32_t length);
} AudByteSource;

// Output side. All-zero is the initial state.
typedef struct AudChunkWriter {
  AudCodecState state;
  uint32_t samplesWritten;  // samples of every chunk stored whole so far
  uint32_t bytesWritten;    // bytes of those chunks, headers included
  uint32_t failed;          // set by the first failed write; nothing is written after it
} AudChunkWriter;

// Input side. All-zero is the initial state (before the first chunk).
typedef struct AudChunkReader {
  AudCodecState state;
  uint32_t samplesLeft;     // samples of the current chunk not yet delivered
  uint32_t codeBytesLeft;   // code bytes of the current chunk not yet taken from the source
  uint32_t hasPendingCode;  // a byte was split: its high-nibble code is in pendingCode
  uint32_t pendingCode;
} AudChunkReader;

// Encodes `samples` (0..1024) samples as one chunk and writes it in one piece.
// Returns 1 when the whole chunk was stored; a failure marks the writer failed.
int EncodeChunk(AudChunkWriter* writer, const AudByteSink* sink, const int16_t* input, uint32_t samples);

// Writes a host block of `bytes` PCM bytes as chunks of 1024 samples, the last one holding the
// rest (an odd trailing byte is consumed, not encoded). Returns the bytes consumed: all of them,
// or, after a failed write, those of the chunks stored whole before it (0 once failed).
uint32_t AudWriteBlock(AudChunkWriter* writer, const AudByteSink* sink, const int16_t* samples, uint32_t bytes);

// Delivers up to `maxSamples` samples (at most 1024 a call) from the current chunk, starting the
// next chunk when the current one is used up; empty chunks are passed over. A chunk is spread
// over as many calls as it takes. Returns the samples stored; 0 at a header that is short or
// not a chunk header, or at the end of the source.
uint32_t DecodeChunk(AudChunkReader* reader, const AudByteSource* source, int16_t* output, uint32_t maxSamples);

// Fills a host request of `bytes` bytes with whole samples. Returns the bytes stored: all that
// fit in `bytes` (rounded down to even) unless the chunks run out or a bad chunk ends the data.
uint32_t AudReadBlock(AudChunkReader* reader, const AudByteSource* source, int16_t* output, uint32_t bytes);

#ifdef __cplusplus
}  // extern "C"
#endif
