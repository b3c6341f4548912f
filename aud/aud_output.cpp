// Export: the output context and its entry points.
#include "aud_file.h"
#include "aud_header.h"
#include "vell_filter.h"

namespace {

const long kOutputRate = 22050;
const long kTransferBytes = 65536;

struct AudOutputContext {
  HANDLE file;  // opened for exclusive writing, positioned after the last chunk
  AudChunkWriter writer;
};

}  // namespace

FilterHandle WINAPI OpenFilterOutput(const char* fileName, long sampleRate, WORD bitsPerSample,
                                     WORD channels, long dataBytes, long* transferSize, DWORD) {
  if (sampleRate != kOutputRate || bitsPerSample != 16 || channels != 1 || !fileName) return nullptr;
  AudOutputContext* output = static_cast<AudOutputContext*>(LocalAlloc(LPTR, sizeof(AudOutputContext)));
  if (!output) return nullptr;
  output->file = CreateFileA(fileName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (output->file == INVALID_HANDLE_VALUE) {
    LocalFree(output);
    return nullptr;
  }
  // The compressed size is patched at close; the uncompressed size announced here is
  // corrected there too if the host writes a different amount.
  const AudFileHeader header = {kOutputRate, 0, static_cast<uint32_t>(dataBytes), AUD_FLAGS_16BIT_MONO,
                                AUD_TYPE_IMA_ADPCM};
  uint8_t bytes[AUD_FILE_HEADER_BYTES];
  AudWriteFileHeader(&header, bytes);
  if (!WriteExactly(output->file, bytes, AUD_FILE_HEADER_BYTES)) {
    // A disk that cannot take 12 bytes cannot take the file: leave nothing half-made behind.
    CloseHandle(output->file);
    DeleteFileA(fileName);
    LocalFree(output);
    return nullptr;
  }
  if (transferSize) *transferSize = kTransferBytes;
  return output;
}

long WINAPI WriteFilterOutput(FilterHandle handle, const void* data, long bytes) {
  AudOutputContext* output = static_cast<AudOutputContext*>(handle);
  if (!output || !data || bytes <= 0) return 0;
  const AudByteSink sink = FileSink(output->file);
  return static_cast<long>(
      AudWriteBlock(&output->writer, &sink, static_cast<const int16_t*>(data), static_cast<uint32_t>(bytes)));
}

void WINAPI CloseFilterOutput(FilterHandle handle) {
  AudOutputContext* output = static_cast<AudOutputContext*>(handle);
  if (!output) return;
  const AudChunkWriter& writer = output->writer;
  if (writer.failed) {
    // Drop the piece of the chunk that did not fit, so the file ends with its last whole chunk.
    SetFilePointer(output->file, static_cast<LONG>(AUD_FILE_HEADER_BYTES + writer.bytesWritten), nullptr, FILE_BEGIN);
    SetEndOfFile(output->file);
  }
  // Both sizes describe what the file really holds, at offsets 2 and 6.
  const DWORD fileBytes = GetFileSize(output->file, nullptr);
  uint8_t sizes[8];
  AudWriteHeaderSizes(fileBytes - AUD_FILE_HEADER_BYTES, writer.samplesWritten * 2, sizes);
  if (SetFilePointer(output->file, 2, nullptr, FILE_BEGIN) == 2) WriteExactly(output->file, sizes, sizeof sizes);
  CloseHandle(output->file);
  LocalFree(output);
}
