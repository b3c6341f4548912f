// Byte-wise (de)serialisation of the AUD file header, independent of host byte order and packing.
#include "aud_header.h"

namespace {

void PutU32(uint32_t value, uint8_t* out) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t GetU32(const uint8_t* in) {
  return static_cast<uint32_t>(in[0]) | (static_cast<uint32_t>(in[1]) << 8) |
         (static_cast<uint32_t>(in[2]) << 16) | (static_cast<uint32_t>(in[3]) << 24);
}

}  // namespace

void AudWriteHeaderSizes(uint32_t compressedSize, uint32_t uncompressedSize, uint8_t out[8]) {
  PutU32(compressedSize, out);
  PutU32(uncompressedSize, out + 4);
}

void AudWriteFileHeader(const AudFileHeader* header, uint8_t out[12]) {
  out[0] = static_cast<uint8_t>(header->sampleRate);
  out[1] = static_cast<uint8_t>(header->sampleRate >> 8);
  AudWriteHeaderSizes(header->compressedSize, header->uncompressedSize, out + 2);
  out[10] = header->flags;
  out[11] = header->type;
}

int AudReadFileHeader(const uint8_t bytes[12], AudFileHeader* header) {
  header->sampleRate = static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
  header->compressedSize = GetU32(bytes + 2);
  header->uncompressedSize = GetU32(bytes + 6);
  header->flags = bytes[10];
  header->type = bytes[11];
  return header->flags == AUD_FLAGS_16BIT_MONO && header->type == AUD_TYPE_IMA_ADPCM;
}
