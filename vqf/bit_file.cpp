// The bit-file table and the bit writer.
#include "bit_file.h"

#include <cstring>

namespace {

// Static storage starts zeroed, so every slot is free when the module is loaded.
BitFile bitFiles[kBitFileSlots];
bool slotInUse[kBitFileSlots];

constexpr int32_t kBufferBits = kBitFileBufferBytes * 8;

void WriteToStream(BitFile* file, size_t bytes) {
  if (bytes == 0) return;
  if (std::fwrite(file->buffer, 1, bytes, file->stream) != bytes) file->writeFailed = true;
}

}  // namespace

BitFile* OpenBitFile(const char* path, const char* mode) {
  int32_t slot = 0;
  while (slot < kBitFileSlots && slotInUse[slot]) ++slot;
  if (slot == kBitFileSlots) {
    // Out of slots: report it and fail like a file that cannot be opened; the host's
    // process must go on.
    std::fputs("tealloc(): File number exceeds upper limit.\n", stderr);
    return nullptr;
  }
  FILE* stream = std::fopen(path, mode);
  if (!stream) return nullptr;
  // The bit buffer already gathers whole 1024-byte writes; without a second buffer in the
  // stream each of them reaches the file at once, so a full disk shows in the very write
  // call that met it instead of in a close that nobody can report to.
  std::setvbuf(stream, nullptr, _IONBF, 0);
  slotInUse[slot] = true;
  BitFile* file = &bitFiles[slot];
  file->bitCount = 0;
  std::memset(file->buffer, 0, sizeof file->buffer);
  file->mode = mode;
  file->stream = stream;
  file->slot = slot;
  file->writeFailed = false;
  return file;
}

// Ends a bit run that filled the buffer: the whole 1024 bytes go to the stream.
static void FlushIfFull(BitFile* file) {
  if (file->bitCount < kBufferBits) return;
  WriteToStream(file, kBitFileBufferBytes);
  std::memset(file->buffer, 0, sizeof file->buffer);
  file->bitCount = 0;
}

void PutBitArray(const uint8_t* bits, int32_t stride, int32_t count, BitFile* file) {
  for (int32_t i = 0; i < count; ++i, bits += stride) {
    file->buffer[file->bitCount / 8] |= static_cast<uint8_t>((*bits & 1u) << (7 - file->bitCount % 8));
    ++file->bitCount;
    FlushIfFull(file);
  }
}

int32_t PutBits(int32_t value, int32_t width, BitFile* file) {
  if (width < 0) width = 0;
  if (width > 32) width = 32;
  // value >= 2^width in a signed comparison; for widths 31 and 32 the result has no meaning.
  const int32_t overflow = width < 31 && value >= (int32_t{1} << width) ? 1 : 0;
  // The same bits, most significant first, as PutBitArray would place them one by one,
  // but a byte's worth at a time: the frame records are millions of small fields.
  // The buffer ends on a byte boundary, so a run never straddles a flush.
  const uint32_t bits = static_cast<uint32_t>(value);
  int32_t left = width;
  while (left > 0) {
    const int32_t room = 8 - file->bitCount % 8;
    const int32_t take = left < room ? left : room;
    const uint32_t run = (bits >> (left - take)) & ((1u << take) - 1u);
    file->buffer[file->bitCount / 8] |= static_cast<uint8_t>(run << (room - take));
    file->bitCount += take;
    left -= take;
    FlushIfFull(file);
  }
  return overflow;
}

bool BitFileWriteFailed(const BitFile* file) { return file && file->writeFailed; }

bool CloseBitFile(BitFile* file) {
  if (!file) return false;
  if (std::strchr(file->mode, 'w')) WriteToStream(file, static_cast<size_t>(file->bitCount + 7) / 8);
  // The stream's own buffer is written out by the close; its failure is a lost write too.
  if (std::fclose(file->stream) != 0) file->writeFailed = true;
  file->stream = nullptr;
  slotInUse[file->slot] = false;
  return !file->writeFailed;
}
