#include "test_support.h"

namespace vwma_test {

ScratchFile::ScratchFile(const char* suffix) {
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  path_ = std::string("wmaudsdk_") + info->test_suite_name() + "_" + info->name() + suffix + ".vwma";
  wide_.assign(path_.begin(), path_.end());
  DeleteFileA(path_.c_str());
}

std::vector<uint8_t> ScratchFile::Bytes() const {
  std::vector<uint8_t> bytes;
  HANDLE h = CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return bytes;
  bytes.resize(GetFileSize(h, nullptr));
  DWORD got = 0;
  ReadFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
  bytes.resize(got);
  CloseHandle(h);
  return bytes;
}

void ScratchFile::Store(const std::vector<uint8_t>& bytes) const {
  HANDLE h = CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(h);
}

WAVEFORMATEX Pcm(WORD channels, DWORD rate, WORD bits) {
  const WORD align = static_cast<WORD>(channels * (bits / 8));
  return WAVEFORMATEX{WAVE_FORMAT_PCM, channels, rate, rate * align, align, bits, 0};
}

std::vector<uint8_t> Pattern(std::size_t n) {
  std::vector<uint8_t> bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i % 251);
  return bytes;
}

void WriteFinished(const ScratchFile& file, const std::vector<uint8_t>& pcm, std::size_t chunk) {
  WmaWriter* w = nullptr;
  ASSERT_EQ(WmaCreateWriter(file.wide(), &w), 0);
  const WAVEFORMATEX format = Pcm(2, 44100, 16);
  ASSERT_EQ(w->ops->SetOutputFormat(w, 96000, 44100, 2, 0), 0);
  ASSERT_EQ(w->ops->SetInputFormat(w, &format), 0);
  for (std::size_t at = 0; at < pcm.size(); at += chunk) {
    const DWORD n = static_cast<DWORD>(std::min(chunk, pcm.size() - at));
    ASSERT_EQ(w->ops->Write(w, pcm.data() + at, n), 0);
  }
  ASSERT_EQ(w->ops->Finish(w), 0);
  EXPECT_EQ(w->ops->Release(w), 0u);
}

namespace {

RecordingCallback* Self(WmaReaderCallback* c) { return static_cast<RecordingCallback*>(c); }

HRESULT WINAPI NoInterface(WmaReaderCallback*, const GUID*, void**) { return E_NOINTERFACE; }
ULONG WINAPI AddRef(WmaReaderCallback* c) { return InterlockedIncrement(&Self(c)->refs); }
ULONG WINAPI Release(WmaReaderCallback* c) { return InterlockedDecrement(&Self(c)->refs); }

HRESULT WINAPI OnSample(WmaReaderCallback* c, const void* data, DWORD n, DWORD) {
  RecordingCallback* r = Self(c);
  SetEvent(r->entered);
  if (r->gate) WaitForSingleObject(r->gate, INFINITE);
  r->calls.push_back("sample " + std::to_string(n));
  const auto* bytes = static_cast<const uint8_t*>(data);
  r->data.insert(r->data.end(), bytes, bytes + n);
  return S_OK;
}

HRESULT WINAPI OnStatus(WmaReaderCallback* c, DWORD status, DWORD, DWORD) {
  RecordingCallback* r = Self(c);
  r->calls.push_back("status " + std::to_string(status));
  if (status == WMA_STATUS_END_OF_STREAM) SetEvent(r->ended);
  return S_OK;
}

const WmaReaderCallbackOps kRecordingOps = {NoInterface, AddRef, Release, OnSample, OnStatus};

}  // namespace

RecordingCallback::RecordingCallback()
    : WmaReaderCallback{&kRecordingOps},
      ended(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      entered(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

RecordingCallback::~RecordingCallback() {
  CloseHandle(ended);
  CloseHandle(entered);
}

std::vector<std::string> Samples(std::initializer_list<DWORD> sizes) {
  std::vector<std::string> calls;
  for (DWORD n : sizes) calls.push_back("sample " + std::to_string(n));
  return calls;
}

}  // namespace vwma_test
