// Calls the three creation functions through the import library: a writer makes a
// finished file, the info object and a reader accept it. Exit code 0 when all succeed.
#include "wmaudsdk_api.h"

#include <cstdio>

namespace {

ULONG WINAPI CallbackRefs(WmaReaderCallback*) { return 1; }
HRESULT WINAPI NoInterface(WmaReaderCallback*, const GUID*, void**) { return E_NOINTERFACE; }
HRESULT WINAPI IgnoreSample(WmaReaderCallback*, const void*, DWORD, DWORD) { return S_OK; }
HRESULT WINAPI IgnoreStatus(WmaReaderCallback*, DWORD, DWORD, DWORD) { return S_OK; }
const WmaReaderCallbackOps kOps = {NoInterface, CallbackRefs, CallbackRefs, IgnoreSample, IgnoreStatus};

int Fail(const char* what) {
  std::printf("FAILED: %s\n", what);
  return 1;
}

}  // namespace

int main() {
  const WCHAR* path = L"wmaudsdk_import_probe.vwma";
  WmaWriter* writer = nullptr;
  if (WmaCreateWriter(path, &writer) != 0 || !writer) return Fail("WmaCreateWriter");
  WAVEFORMATEX pcm = {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
  const short samples[8] = {1, -1, 2, -2, 3, -3, 4, -4};
  if (writer->ops->SetOutputFormat(writer, 96000, 44100, 2, 0) != 0 ||
      writer->ops->SetInputFormat(writer, &pcm) != 0 ||
      writer->ops->Write(writer, samples, sizeof samples) != 0 || writer->ops->Finish(writer) != 0) {
    return Fail("writer operations");
  }
  writer->ops->Release(writer);

  WmaInfo* info = nullptr;
  if (WmaCreateInfo(path, &info) != 0 || !info) return Fail("WmaCreateInfo");
  info->ops->Release(info);

  WmaReaderCallback callback = {&kOps};
  WmaReader* reader = nullptr;
  if (WmaCreateReader(path, &callback, &reader, 0) < 0 || !reader) return Fail("WmaCreateReader");
  reader->ops->Release(reader);
  DeleteFileW(path);
  std::printf("wmaudsdk.dll bound by ordinal: writer, info and reader work\n");
  return 0;
}
