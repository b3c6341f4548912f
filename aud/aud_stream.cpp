// Chunk streams over byte sinks and sources; see aud_stream.h.
#include "aud_stream.h"

namespace {

const uint32_t kBlockPieceBytes = AUD_CHUNK_MAX_SAMPLES * 2;  // one full chunk of PCM

inline uint32_t Smaller(uint32_t a, uint32_t b) { return a < b ? a : b; }

void EndChunk(AudChunkReader* reader, const AudByteSource* source) {
  if (reader->codeBytesLeft) source->skip(source->context, reader->codeBytesLeft);
  reader->samplesLeft = 0;
  reader->codeBytesLeft = 0;
  reader->hasPendingCode = 0;
}

// Reads chunk headers until one with samples; returns 0 at a short or foreign header.
int StartNextChunk(AudChunkReader* reader, const AudByteSource* source) {
  for (;;) {
    uint8_t bytes[AUD_CHUNK_HEADER_BYTES];
    if (source->read(source->context, bytes, AUD_CHUNK_HEADER_BYTES) != AUD_CHUNK_HEADER_BYTES) return 0;
    AudChunkHeader header;
    if (!AudParseChunkHeader(bytes, &header)) return 0;
    reader->samplesLeft = AudChunkSampleCount(&header);
    reader->codeBytesLeft = header.compressedSize;
    reader->hasPendingCode = 0;
    if (reader->samplesLeft) return 1;
    EndChunk(reader, source);  // nothing to deliver: pass over its code bytes
  }
}

}  // namespace

uint32_t AudWriteBlock(AudChunkWriter* writer, const AudByteSink* sink, const int16_t* samples, uint32_t bytes) {
  if (writer->failed) return 0;
  uint32_t consumed = 0;
  while (consumed < bytes) {
    // Gather up to AUD_GATHER_CHUNKS chunks: full ones while more than one piece is left,
    // then one for the rest of the block (an odd last byte is consumed with it).
    uint32_t length = 0, chunks = 0, taken = 0;
    uint32_t pieceBytes[AUD_GATHER_CHUNKS];
    while (consumed + taken < bytes && chunks < AUD_GATHER_CHUNKS) {
      const uint32_t left = bytes - consumed - taken;
      const uint32_t piece = left > kBlockPieceBytes ? kBlockPieceBytes : left;
      length += AudEncodeChunk(&writer->state, samples + (consumed + taken) / 2, piece / 2, writer->gathered + length);
      pieceBytes[chunks++] = piece;
      taken += piece;
    }
    const uint32_t stored = sink->write(sink->context, writer->gathered, length);
    // Count the chunks that reached the sink whole; a failed write ends the output there.
    uint32_t counted = 0;
    for (uint32_t i = 0; i < chunks; ++i) {
      const uint32_t samplesInChunk = pieceBytes[i] / 2;
      const uint32_t chunkLength = AUD_CHUNK_HEADER_BYTES + AudCodeBytesFor(samplesInChunk);
      if (stored < length && counted + chunkLength > stored) {
        writer->failed = 1;
        return consumed;
      }
      counted += chunkLength;
      consumed += pieceBytes[i];
      writer->samplesWritten += samplesInChunk;
      writer->bytesWritten += chunkLength;
    }
  }
  return consumed;
}

uint32_t DecodeChunk(AudChunkReader* reader, const AudByteSource* source, int16_t* output, uint32_t maxSamples) {
  if (maxSamples == 0) return 0;
  if (reader->samplesLeft == 0 && !StartNextChunk(reader, source)) return 0;

  uint32_t stored = 0;
  if (reader->hasPendingCode) {  // the second code of a byte split by the previous call
    output[stored++] = AudApplyCode(&reader->state, reader->pendingCode);
    reader->hasPendingCode = 0;
    reader->samplesLeft -= 1;
  }

  uint8_t codes[AUD_CHUNK_MAX_CODE_BYTES];
  uint32_t count = Smaller(Smaller(maxSamples - stored, reader->samplesLeft), AUD_CHUNK_MAX_SAMPLES - stored);
  if (count) {
    const uint32_t wanted = AudCodeBytesFor(count);
    const uint32_t got = source->read(source->context, codes, wanted);
    reader->codeBytesLeft -= got;
    if (got < wanted) {  // truncated chunk: decode only the codes that arrived, then stop
      count = Smaller(count, got * 2);
      reader->samplesLeft = count;
      reader->codeBytesLeft = 0;
    }
    AudDecodeCodes(&reader->state, codes, 0, count, output + stored);
    reader->samplesLeft -= count;
    if ((count & 1) && reader->samplesLeft) {
      reader->hasPendingCode = 1;
      reader->pendingCode = codes[count / 2] >> 4;
    }
    stored += count;
  }
  if (reader->samplesLeft == 0) EndChunk(reader, source);
  return stored;
}

uint32_t AudReadBlock(AudChunkReader* reader, const AudByteSource* source, int16_t* output, uint32_t bytes) {
  const uint32_t wanted = bytes / 2;
  uint32_t delivered = 0;
  while (delivered < wanted) {
    const uint32_t n = DecodeChunk(reader, source, output + delivered, wanted - delivered);
    if (n == 0) break;
    delivered += n;
  }
  return delivered * 2;
}

namespace {

uint32_t ReadAhead(void* context, uint8_t* bytes, uint32_t length) {
  AudReadAhead* ahead = static_cast<AudReadAhead*>(context);
  uint32_t stored = 0;
  while (stored < length) {
    if (ahead->next == ahead->end) {
      ahead->next = ahead->end = 0;
      const uint32_t got = ahead->source->read(ahead->source->context, ahead->buffer, ahead->capacity);
      if (got == 0) break;  // the end of the source, or a failed read
      ahead->end = got;
    }
    const uint32_t n = Smaller(length - stored, ahead->end - ahead->next);
    for (uint32_t i = 0; i < n; ++i) bytes[stored + i] = ahead->buffer[ahead->next + i];
    ahead->next += n;
    stored += n;
  }
  return stored;
}

void SkipAhead(void* context, uint32_t length) {
  AudReadAhead* ahead = static_cast<AudReadAhead*>(context);
  const uint32_t buffered = ahead->end - ahead->next;
  if (length <= buffered) {
    ahead->next += length;
    return;
  }
  ahead->next = ahead->end = 0;
  ahead->source->skip(ahead->source->context, length - buffered);
}

}  // namespace

void AudReadAheadInit(AudReadAhead* ahead, const AudByteSource* source, uint8_t* buffer, uint32_t capacity) {
  ahead->source = source;
  ahead->buffer = buffer;
  ahead->capacity = capacity;
  ahead->next = 0;
  ahead->end = 0;
}

AudByteSource AudReadAheadSource(AudReadAhead* ahead) { return AudByteSource{ahead, ReadAhead, SkipAhead}; }
