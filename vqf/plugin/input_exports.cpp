// The import entry points of vell_vqf.flt: VQF files decoded by our TwinVQ decoder. Nothing
// thrown inside (an allocation that fails) crosses into the host: an open then fails with a
// null handle and a read with a short count.
#include <stdio.h>

#include <memory>
#include <new>

#include "vell_filter.h"

#include "bit_rates.h"
#include "vqf_reader.h"

namespace {

// Sample frames per ReadFilterInput the host is told to ask for: eight frames of the largest
// mode, 64 KiB of stereo. A quarter of the calls of two frames' blocks, and a host that
// writes each block to a file makes a quarter of the writes (which cost it more than the
// calls).
constexpr long kTransferFrames = 16384;

struct VqfInputContext {
  vqf::VqfDecoder decoder;
};

struct CloseFile {
  void operator()(FILE* file) const { fclose(file); }
};

vqf::VqfDecoder* DecoderOf(FilterHandle input) {
  return input ? &static_cast<VqfInputContext*>(input)->decoder : nullptr;
}

long FrameBytes(const vqf::VqfDecoder& decoder) { return 2L * decoder.header().channels; }

}  // namespace

long WINAPI FilterUnderstandsFormat(const char* fileName) {
  if (!fileName) return 0;
  FILE* file = fopen(fileName, "rb");
  if (!file) return 0;
  vqf::VqfHeader header;
  const bool understood = vqf::ReadVqfHeader(file, &header) == vqf::HeaderStatus::kOk;
  fclose(file);
  return understood ? 1 : 0;
}

FilterHandle WINAPI OpenFilterInput(const char* fileName, long* sampleRate, WORD* bitsPerSample,
                                    WORD* channels, long, long* transferSize) {
  if (!fileName) return nullptr;
  try {
    // Owned on every path: a failed allocation must not leave the file open (and locked).
    std::unique_ptr<FILE, CloseFile> file(fopen(fileName, "rb"));
    if (!file) return nullptr;
    auto context = std::make_unique<VqfInputContext>();
    // The decoder owns the file from here, whatever Open does; the context closes it.
    if (context->decoder.Open(file.release()) != vqf::HeaderStatus::kOk) return nullptr;
    const vqf::VqfHeader& header = context->decoder.header();
    if (sampleRate) *sampleRate = static_cast<long>(header.sampleRate);
    if (bitsPerSample) *bitsPerSample = 16;
    if (channels) *channels = static_cast<WORD>(header.channels);
    if (transferSize) *transferSize = kTransferFrames * FrameBytes(context->decoder);
    return context.release();
  } catch (...) {
    return nullptr;
  }
}

long WINAPI ReadFilterInput(FilterHandle input, void* buffer, long bytes) {
  vqf::VqfDecoder* decoder = DecoderOf(input);
  if (!decoder || !buffer || bytes <= 0) return 0;
  const long frameBytes = FrameBytes(*decoder);
  try {
    const size_t frames = decoder->Read(static_cast<int16_t*>(buffer), size_t(bytes / frameBytes));
    return static_cast<long>(frames) * frameBytes;
  } catch (...) {
    return 0;
  }
}

void WINAPI CloseFilterInput(FilterHandle input) {
  delete static_cast<VqfInputContext*>(input);
}

long WINAPI FilterGetFileSize(FilterHandle input) {
  const vqf::VqfDecoder* decoder = DecoderOf(input);
  if (!decoder) return 0;
  // The host's count is a signed 32-bit long: a longer file (over 3 hours at 44.1 kHz stereo)
  // announces the largest whole number of sample frames below 2 GiB and still delivers all.
  const uint64_t frameBytes = uint64_t(FrameBytes(*decoder));
  const uint64_t most = 0x7FFFFFFFu / frameBytes * frameBytes;
  const uint64_t total = decoder->totalSampleFrames() * frameBytes;
  return static_cast<long>(total < most ? total : most);
}

DWORD WINAPI FilterOptions(FilterHandle input) {
  const vqf::VqfDecoder* decoder = DecoderOf(input);
  return decoder ? vqf::OptionsForBitRate(static_cast<uint32_t>(decoder->header().kbpsPerChannel)) : 0;
}

DWORD WINAPI FilterOptionsString(FilterHandle input, char* text) {
  const vqf::VqfDecoder* decoder = DecoderOf(input);
  if (!decoder || !text) return 0;
  const vqf::VqfHeader& header = decoder->header();
  wsprintfA(text, "%d bps", header.kbpsPerChannel * header.channels * 1000);
  return 0;
}

// The text chunks have no place in the host's special-data record: none is reported.
unsigned long WINAPI FilterGetFirstSpecialData(void*, riffspecialdata_t*) { return 0; }
unsigned long WINAPI FilterGetNextSpecialData(void*, riffspecialdata_t*) { return 0; }
