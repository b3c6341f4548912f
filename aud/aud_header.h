// The 12-byte AUD file header, little-endian: sample rate (16-bit), compressed size (32-bit,
// chunk bytes after the header), uncompressed size (32-bit, PCM bytes), flags, type.
// Portable and freestanding, like the codec.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define AUD_FILE_HEADER_BYTES 12u
#define AUD_FLAGS_16BIT_MONO 2u
#define AUD_TYPE_IMA_ADPCM 99u

typedef struct AudFileHeader {
  uint16_t sampleRate;
  uint32_t compressedSize;    // bytes of chunk data after the header, chunk headers included
  uint32_t uncompressedSize;  // bytes of 16-bit PCM the file decodes to
  uint8_t flags;
  uint8_t type;
} AudFileHeader;

// Serialises the header into its 12 bytes.
void AudWriteFileHeader(const AudFileHeader* header, uint8_t out[12]);

// Parses 12 header bytes. Returns 1 when flags is 2 and type is 99 (the only kind read), else 0.
int AudReadFileHeader(const uint8_t bytes[12], AudFileHeader* header);

// Writes the two sizes as the 8 bytes that live at file offset 2.
void AudWriteHeaderSizes(uint32_t compressedSize, uint32_t uncompressedSize, uint8_t out[8]);

#ifdef __cplusplus
}  // extern "C"
#endif
