// Kernel file calls behind the chunk streams.
#include "aud_file.h"

namespace {

uint32_t ReadSome(void* file, uint8_t* bytes, uint32_t length) {
  DWORD got = 0;
  if (!ReadFile(static_cast<HANDLE>(file), bytes, length, &got, nullptr)) return 0;
  return got;
}

void SkipForward(void* file, uint32_t length) {
  // A chunk holds at most 65535 code bytes, so the distance always fits the signed argument.
  SetFilePointer(static_cast<HANDLE>(file), static_cast<LONG>(length), nullptr, FILE_CURRENT);
}

uint32_t WriteSome(void* file, const uint8_t* bytes, uint32_t length) {
  // A write that fails counts as storing nothing: the close cuts the file back to the chunks
  // counted, so bytes it may have left are dropped rather than trusted.
  DWORD put = 0;
  if (!WriteFile(static_cast<HANDLE>(file), bytes, length, &put, nullptr)) return 0;
  return put;
}

}  // namespace

HANDLE OpenForReading(const char* fileName) {
  if (!fileName) return INVALID_HANDLE_VALUE;
  return CreateFileA(fileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

int ReadExactly(HANDLE file, uint8_t* bytes, uint32_t length) {
  DWORD got = 0;
  return ReadFile(file, bytes, length, &got, nullptr) && got == length;
}

int WriteExactly(HANDLE file, const uint8_t* bytes, uint32_t length) {
  DWORD put = 0;
  return WriteFile(file, bytes, length, &put, nullptr) && put == length;
}

AudByteSource FileSource(HANDLE file) { return AudByteSource{file, ReadSome, SkipForward}; }

AudByteSink FileSink(HANDLE file) { return AudByteSink{file, WriteSome}; }
