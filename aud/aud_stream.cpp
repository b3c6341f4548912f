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

int EncodeChunk(AudChunkWriter* writer, const AudByteSink* sink, const int16_t* input, uint32_t samples) {
  uint8_t chunk[AUD_CHUNK_HEADER_BYTES + AUD_CHUNK_MAX_CODE_BYTES];
  const uint32_t length = AudEncodeChunk(&writer->state, input, samples, chunk);
  if (!sink->write(sink->context, chunk, length)) {
    writer->failed = 1;
    return 0;
  }
  writer->samplesWritten += samples;
  writer->bytesWritten += length;
  return 1;
}

uint32_t AudWriteBlock(AudChunkWriter* writer, const AudByteSink* sink, const int16_t* samples, uint32_t bytes) {
  if (writer->failed) return 0;
  uint32_t consumed = 0;
  while (bytes - consumed > kBlockPieceBytes) {
    if (!EncodeChunk(writer, sink, samples + consumed / 2, AUD_CHUNK_MAX_SAMPLES)) return consumed;
    consumed += kBlockPieceBytes;
  }
  if (bytes > consumed) {
    if (!EncodeChunk(writer, sink, samples + consumed / 2, (bytes - consumed) / 2)) return consumed;
    consumed = bytes;
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
