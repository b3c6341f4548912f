// Chunk streams: cutting PCM blocks into chunks on the way out, and delivering samples from
// a run of chunks on the way in, over caller-supplied byte sinks and sources (a file in the
// plug-in, memory in tests). Portable and freestanding, like the codec, with fixed buffers
// only: the chunks of a host block are gathered in the writer and handed to the sink in one
// write, and a read-ahead fills the reader's small requests from large reads of the source.
#pragma once

#include "aud_codec.h"

#ifdef __cplusplus
extern "C" {
#endif

// Where chunks go. write returns the bytes stored: all `length` of them, or fewer when the
// write failed (a full disk may take part of it).
typedef struct AudByteSink {
  void* context;
  uint32_t (*write)(void* context, const uint8_t* bytes, uint32_t length);
} AudByteSink;

// Where chunks come from. read returns the bytes stored (fewer at the end or on failure);
// skip moves forward over `length` bytes without storing them.
typedef struct AudByteSource {
  void* context;
  uint32_t (*read)(void* context, uint8_t* bytes, uint32_t length);
  void (*skip)(void* context, uint32_t length);
} AudByteSource;

// Chunks gathered for one write: a host block of 65536 bytes (the transfer size the plug-in
// asks for) is 32 full chunks, so it reaches the sink in one piece.
#define AUD_GATHER_CHUNKS 32u
#define AUD_GATHER_BYTES (AUD_GATHER_CHUNKS * (AUD_CHUNK_HEADER_BYTES + AUD_CHUNK_MAX_CODE_BYTES))

// Output side. All-zero is the initial state.
typedef struct AudChunkWriter {
  AudCodecState state;
  uint32_t samplesWritten;  // samples of every chunk stored whole so far
  uint32_t bytesWritten;    // bytes of those chunks, headers included
  uint32_t failed;          // set by the first failed write; nothing is written after it
  uint8_t gathered[AUD_GATHER_BYTES];
} AudChunkWriter;

// Input side. All-zero is the initial state (before the first chunk).
typedef struct AudChunkReader {
  AudCodecState state;
  uint32_t samplesLeft;     // samples of the current chunk not yet delivered
  uint32_t codeBytesLeft;   // code bytes of the current chunk not yet taken from the source
  uint32_t hasPendingCode;  // a byte was split: its high-nibble code is in pendingCode
  uint32_t pendingCode;
} AudChunkReader;

// Writes a host block of `bytes` PCM bytes as chunks of 1024 samples, the last one holding the
// rest (an odd trailing byte is consumed, not encoded), in one sink write per AUD_GATHER_CHUNKS
// chunks. Returns the bytes consumed: all of them, or, after a failed write, those of the
// chunks stored whole (0 once failed).
uint32_t AudWriteBlock(AudChunkWriter* writer, const AudByteSink* sink, const int16_t* samples, uint32_t bytes);

// Delivers up to `maxSamples` samples (at most 1024 a call) from the current chunk, starting the
// next chunk when the current one is used up; empty chunks are passed over. A chunk is spread
// over as many calls as it takes. Returns the samples stored; 0 at a header that is short or
// not a chunk header, or at the end of the source.
uint32_t DecodeChunk(AudChunkReader* reader, const AudByteSource* source, int16_t* output, uint32_t maxSamples);

// Fills a host request of `bytes` bytes with whole samples. Returns the bytes stored: all that
// fit in `bytes` (rounded down to even) unless the chunks run out or a bad chunk ends the data.
uint32_t AudReadBlock(AudChunkReader* reader, const AudByteSource* source, int16_t* output, uint32_t bytes);

// A read-ahead over a source: reads of the source are at least `capacity` bytes, the
// reader's header and code reads are served from `buffer`. Skips within the buffer cost
// nothing; longer ones skip the source. The source stands ahead of what has been taken by
// the bytes still buffered.
typedef struct AudReadAhead {
  const AudByteSource* source;
  uint8_t* buffer;
  uint32_t capacity;
  uint32_t next;  // buffer[next .. end) not yet taken
  uint32_t end;
} AudReadAhead;

// An empty read-ahead over `source` with the caller's buffer of `capacity` (> 0) bytes.
void AudReadAheadInit(AudReadAhead* ahead, const AudByteSource* source, uint8_t* buffer, uint32_t capacity);

// The read-ahead as a source for DecodeChunk and AudReadBlock.
AudByteSource AudReadAheadSource(AudReadAhead* ahead);

#ifdef __cplusplus
}  // extern "C"
#endif
