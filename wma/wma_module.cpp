// Module start-up, the plug-in's self-description and the entry points it answers
// with nothing; the file-name conversion and the message box the others share.
#include "wma_plugin.h"

HANDLE g_processHeap = nullptr;

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_processHeap = GetProcessHeap();
  return TRUE;
}

// Writes text into a fixed-size field of the host's record, zero-filling the rest.
static void PutField(char* field, size_t size, const char* text) {
  size_t i = 0;
  for (; text[i] != '\0' && i + 1 < size; ++i) field[i] = text[i];
  for (; i < size; ++i) field[i] = '\0';
}

WORD WINAPI QueryVellFilter(FilterQuery* query) {
  if (!query) return VELL_FILTER_QUERY_RESULT;
  PutField(query->name, sizeof query->name, "Windows Media Audio");
  PutField(query->description, sizeof query->description,
           "Windows Media Audio through wmaudsdk.dll, by the vell project");
  PutField(query->extension, sizeof query->extension, "WMA");
  PutField(query->extension2, sizeof query->extension2, "ASF");
  // Words 4, 9 and 13 belong to the host and stay as it passed them.
  static const int kZeroWords[] = {0, 1, 2, 6, 7, 11, 12};
  static const int kSixtyWords[] = {3, 5, 8, 10};
  for (int word : kZeroWords) query->capabilityWords[word] = 0;
  for (int word : kSixtyWords) query->capabilityWords[word] = 60;
  query->flags = FILTER_CAN_WRITE | FILTER_CAN_READ | FILTER_HAS_OPTIONS;
  query->blockSize = 2048;
  return VELL_FILTER_QUERY_RESULT;
}

// This filter suggests no sample type: the host's values stand.
void WINAPI GetSuggestedSampleType(long*, WORD*, WORD*) {}

unsigned long WINAPI FilterWriteSpecialData(void*, const char*, const char*, char*, unsigned long) {
  return 0;
}
unsigned long WINAPI FilterGetFirstSpecialData(void*, riffspecialdata_t*) { return 0; }
unsigned long WINAPI FilterGetNextSpecialData(void*, riffspecialdata_t*) { return 0; }

bool WidenPath(const char* fileName, WCHAR* wide) {
  if (!fileName) return false;
  return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, fileName, -1, wide, kWidePathUnits) > 0;
}

void ShowMessage(const char* text) { MessageBoxA(nullptr, text, nullptr, MB_OK); }

// The plug-in has no C runtime; the compiler may still emit calls to these two.
extern "C" void* memset(void* dest, int value, size_t count) {
  void* start = dest;
  __asm__ volatile("rep stosb" : "+D"(dest), "+c"(count) : "a"(value) : "memory");
  return start;
}

extern "C" void* memcpy(void* dest, const void* src, size_t count) {
  void* start = dest;
  __asm__ volatile("rep movsb" : "+D"(dest), "+S"(src), "+c"(count) : : "memory");
  return start;
}
