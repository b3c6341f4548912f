// The entry points of vell_vqf.flt and the count of open outputs that keeps the encoder
// library loaded from the first open to the last close.
#include <string.h>

#include "vell_filter.h"

#include "bit_rates.h"
#include "encoder_context.h"
#include "encoder_library.h"
#include "quality_dialog.h"

namespace {

uint32_t openContexts = 0;  // the host calls from one thread at a time

// Counts a new output; the first one loads the library. False (count unchanged) when the
// library cannot be loaded.
bool AcquireEncoderLibrary() {
  if (openContexts == 0 && !LoadEncoderLibrary(nullptr)) return false;
  ++openContexts;
  return true;
}

void ReleaseEncoderLibrary() {
  if (--openContexts == 0) UnloadEncoderLibrary();
}

template <size_t N>
void SetText(char (&field)[N], const char* text) {
  strncpy(field, text, N);  // pads the rest of the field with zeros
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(module);
  return TRUE;
}

WORD WINAPI QueryVellFilter(FilterQuery* query) {
  SetText(query->name, "TwinVQ");
  SetText(query->description, "blah");
  static const uint16_t kCapabilities[14] = {0, 0, 0, 20, 0, 20, 0, 0, 20, 0, 20, 0, 0, 0};
  for (int i = 0; i < 14; ++i)
    if (i != 4 && i != 9 && i != 13) query->capabilityWords[i] = kCapabilities[i];
  query->flags = FILTER_CAN_WRITE | FILTER_CAN_READ | FILTER_HAS_OPTIONS;
  SetText(query->extension, "VQF");
  query->blockSize = 4096;
  return VELL_FILTER_QUERY_RESULT;
}

void WINAPI GetSuggestedSampleType(long* sampleRate, WORD* bitsPerSample, WORD* channels) {
  if (sampleRate) *sampleRate = 44100;
  if (bitsPerSample) *bitsPerSample = 16;
  if (channels) *channels = 2;
}

DWORD WINAPI FilterGetOptions(HWND ownerWindow, HINSTANCE module, long, long, long, DWORD options) {
  return vqf::RunQualityDialog(ownerWindow, module, options);
}

FilterHandle WINAPI OpenFilterOutput(const char* fileName, long sampleRate, WORD bitsPerSample,
                                     WORD channels, long, long*, DWORD options) {
  if (!AcquireEncoderLibrary()) {
    MessageBoxA(GetActiveWindow(), "Unable to load tvqenc.dll", nullptr, MB_ICONERROR | MB_OK);
    return nullptr;
  }
  vqf::EncoderContext* context =
      fileName && vqf::IsVqfSampleRate(sampleRate)
          ? vqf::OpenEncoderContext(fileName, channels, static_cast<uint32_t>(sampleRate),
                                    bitsPerSample, vqf::BitRateFromOptions(options))
          : nullptr;
  if (!context) ReleaseEncoderLibrary();
  return context;
}

long WINAPI WriteFilterOutput(FilterHandle output, const void* data, long bytes) {
  if (!output || bytes <= 0 || !data) return 0;
  auto* context = static_cast<vqf::EncoderContext*>(output);
  // A failed write leaves the file incomplete; 0 tells the host the export failed.
  return vqf::FeedEncoderContext(context, data, static_cast<size_t>(bytes)) ? bytes : 0;
}

void WINAPI CloseFilterOutput(FilterHandle output) {
  if (!output) return;
  vqf::FinishEncoderContext(static_cast<vqf::EncoderContext*>(output));
  ReleaseEncoderLibrary();
}

unsigned long WINAPI FilterWriteSpecialData(void*, const char*, const char*, char*, unsigned long) {
  return 0;
}
