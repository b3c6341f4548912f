// What the plug-in says about itself, and the entry points it answers with constants.
#include "vell_filter.h"

namespace {
const WORD kCapabilityWord = 10;           // the one capability word this filter sets
const WORD kSixteenBitMono22050 = 0x0004;  // its bit for 16-bit mono at 22050 Hz
}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

WORD WINAPI QueryVellFilter(FilterQuery* query) {
  if (!query) return 0;
  // Only these fields are ours; every other byte of the host's record stays as it was.
  lstrcpyA(query->name, "C&C soundtrack files");
  lstrcpyA(query->description, "Westwood Studios AUD import and export, IMA ADPCM");
  query->capabilityWords[kCapabilityWord] = kSixteenBitMono22050;
  query->flags = FILTER_CAN_WRITE | FILTER_CAN_READ;
  lstrcpyA(query->extension, "AUD");
  query->blockSize = 2048;
  return VELL_FILTER_QUERY_RESULT;
}

void WINAPI GetSuggestedSampleType(long* sampleRate, WORD* bitsPerSample, WORD* channels) {
  if (sampleRate) *sampleRate = 22050;
  if (bitsPerSample) *bitsPerSample = 16;
  if (channels) *channels = 1;
}

DWORD WINAPI FilterGetOptions(HWND, HINSTANCE, long, long, long, DWORD) { return 0; }

unsigned long WINAPI FilterWriteSpecialData(void*, const char*, const char*, char*, unsigned long) {
  return 0;
}

unsigned long WINAPI FilterGetFirstSpecialData(void*, riffspecialdata_t*) { return 0; }

unsigned long WINAPI FilterGetNextSpecialData(void*, riffspecialdata_t*) { return 0; }
