// Import: the input context and its entry points.
#include "aud_file.h"
#include "aud_header.h"
#include "vell_filter.h"

namespace {

const long kTransferBytes = 30720;  // 15 chunks of 1024 samples per request
// File bytes per ReadFile: about four requests' worth of full chunks (7800 bytes each).
const uint32_t kReadAheadBytes = 32768;

struct AudInputContext {
  HANDLE file;                 // positioned inside the chunk data, ahead of the reader
  uint32_t totalSamples;       // the header's uncompressed size / 2
  AudChunkReader reader;
  AudByteSource fileSource;    // the file, read by the read-ahead only
  AudReadAhead ahead;          // the reader's source: chunk bytes from large reads of the file
  uint8_t aheadBytes[kReadAheadBytes];
};

// Reads the 12-byte header; 0 for a short file or a header of another kind.
int ReadAudHeader(HANDLE file, AudFileHeader* header) {
  uint8_t bytes[AUD_FILE_HEADER_BYTES];
  return ReadExactly(file, bytes, AUD_FILE_HEADER_BYTES) && AudReadFileHeader(bytes, header);
}

}  // namespace

long WINAPI FilterUnderstandsFormat(const char* fileName) {
  HANDLE file = OpenForReading(fileName);
  if (file == INVALID_HANDLE_VALUE) return 0;
  AudFileHeader header;
  const int understood = ReadAudHeader(file, &header);
  CloseHandle(file);
  return understood;
}

FilterHandle WINAPI OpenFilterInput(const char* fileName, long* sampleRate, WORD* bitsPerSample,
                                    WORD* channels, long, long* transferSize) {
  AudInputContext* input = static_cast<AudInputContext*>(LocalAlloc(LPTR, sizeof(AudInputContext)));
  if (!input) return nullptr;
  input->file = OpenForReading(fileName);
  AudFileHeader header;
  if (input->file == INVALID_HANDLE_VALUE || !ReadAudHeader(input->file, &header)) {
    if (input->file != INVALID_HANDLE_VALUE) CloseHandle(input->file);
    LocalFree(input);
    return nullptr;
  }
  input->totalSamples = header.uncompressedSize >> 1;
  input->fileSource = FileSource(input->file);
  AudReadAheadInit(&input->ahead, &input->fileSource, input->aheadBytes, kReadAheadBytes);
  if (sampleRate) *sampleRate = header.sampleRate;
  if (bitsPerSample) *bitsPerSample = 16;
  if (channels) *channels = 1;
  if (transferSize) *transferSize = kTransferBytes;
  return input;
}

long WINAPI ReadFilterInput(FilterHandle handle, void* buffer, long bytes) {
  AudInputContext* input = static_cast<AudInputContext*>(handle);
  if (!input || !buffer || bytes <= 0) return 0;
  const AudByteSource source = AudReadAheadSource(&input->ahead);
  return static_cast<long>(
      AudReadBlock(&input->reader, &source, static_cast<int16_t*>(buffer), static_cast<uint32_t>(bytes)));
}

void WINAPI CloseFilterInput(FilterHandle handle) {
  AudInputContext* input = static_cast<AudInputContext*>(handle);
  if (!input) return;
  CloseHandle(input->file);
  LocalFree(input);
}

long WINAPI FilterGetFileSize(FilterHandle handle) {
  const AudInputContext* input = static_cast<const AudInputContext*>(handle);
  if (!input) return 0;
  // A header may announce up to 4 GiB; the host's count is signed, so stay below 2 GiB.
  const uint32_t largestEven = 0x7FFFFFFEu;
  return static_cast<long>(input->totalSamples > largestEven / 2 ? largestEven : input->totalSamples * 2);
}

DWORD WINAPI FilterOptions(FilterHandle) { return 0; }

DWORD WINAPI FilterOptionsString(FilterHandle, char* text) {
  if (!text) return 0;
  lstrcpyA(text, "Westwood Studios AUD format");
  return 1;
}
