// The reader and the info object through the library's exports: delivery from the
// reader's own thread, attributes and format, refusals, stop, and the fault switches.
#include "test_support.h"

#include <cstring>
#include <fstream>

using namespace vwma_test;

namespace {

// A reader over a file, released at the end of the scope.
struct Reader {
  Reader(const ScratchFile& file, RecordingCallback* callback) {
    result = WmaCreateReader(file.wide(), callback, &r, 0);
  }
  ~Reader() {
    if (r) r->ops->Release(r);
  }
  void Start() { EXPECT_EQ(r->ops->Start(r), 0); }
  void Stop() { EXPECT_EQ(r->ops->Stop(r), 0); }
  HRESULT result;
  WmaReader* r = nullptr;
};

// Writes 'bytes' of pattern PCM, reads it back to the end, and returns the calls.
std::vector<std::string> RoundTrip(std::size_t bytes) {
  ScratchFile file;
  WriteFinished(file, Pattern(bytes), 7000);
  RecordingCallback callback;
  {
    Reader reader(file, &callback);
    EXPECT_EQ(reader.result, 0);
    if (!reader.r) return {};
    reader.Start();
    EXPECT_TRUE(callback.WaitEnded());
    reader.Stop();
  }
  EXPECT_EQ(callback.data, Pattern(bytes));
  return callback.calls;
}

std::vector<std::string> Then(std::vector<std::string> calls, const char* last) {
  calls.push_back(last);
  return calls;
}

}  // namespace

TEST(Reader, DeliversThePcmInOrderThenTheEnd) {
  ScratchFile file;
  WriteFinished(file, Pattern(10000), 3000);
  RecordingCallback callback;
  {
    Reader reader(file, &callback);
    ASSERT_EQ(reader.result, 0);
    EXPECT_EQ(callback.Refs(), 2);  // the reader holds the callback
    reader.Start();
    ASSERT_TRUE(callback.WaitEnded());
    reader.Stop();
    EXPECT_EQ(callback.Refs(), 2);
  }
  EXPECT_EQ(callback.Refs(), 1);  // dropped with the reader
  EXPECT_EQ(callback.calls, Then(Samples({4096, 4096, 1808}), "status 3"));
  EXPECT_EQ(callback.data, Pattern(10000));
}

TEST(Reader, BlockSizeSwitches) {
  {
    ScopedSwitch block("VELL_WMA_BLOCK", "1000");
    EXPECT_EQ(RoundTrip(2500), Then(Samples({1000, 1000, 500}), "status 3"));
  }
  {
    ScopedSwitch grow("VELL_WMA_BLOCK_GROW", "3000");
    EXPECT_EQ(RoundTrip(20000), Then(Samples({3000, 6000, 9000, 2000}), "status 3"));
  }
  EXPECT_EQ(RoundTrip(0), std::vector<std::string>{"status 3"});
  EXPECT_EQ(RoundTrip(3 << 20).size(), 769u);  // larger than the file buffer: 768 blocks + end
}

TEST(Reader, AttributesAndFormat) {
  ScratchFile file;
  WriteFinished(file, Pattern(176400 + 176400 / 2));
  RecordingCallback callback;
  Reader reader(file, &callback);
  ASSERT_EQ(reader.result, 0);
  WmaReader* r = reader.r;

  DWORD type = 99, value = 0, length = 4;
  EXPECT_EQ(r->ops->GetAttribute(r, L"Duration", &type, &value, &length), 0);
  EXPECT_EQ(value, 1500u);
  EXPECT_EQ(length, 4u);
  EXPECT_EQ(type, 0u);
  length = 4;
  EXPECT_EQ(r->ops->GetAttribute(r, L"Bitrate", &type, &value, &length), 0);
  EXPECT_EQ(value, 96000u);
  value = 77, length = 4;
  EXPECT_NE(r->ops->GetAttribute(r, L"Title", &type, &value, &length), 0);
  EXPECT_NE(r->ops->GetAttribute(r, L"duration", &type, &value, &length), 0);
  EXPECT_EQ(value, 77u);
  EXPECT_EQ(length, 4u);
  length = 2;
  EXPECT_NE(r->ops->GetAttribute(r, L"Bitrate", &type, &value, &length), 0);
  EXPECT_EQ(value, 77u);
  EXPECT_EQ(length, 4u);

  uint8_t format[1024];
  memset(format, 0xEE, sizeof format);
  EXPECT_EQ(r->ops->GetFormat(r, format, sizeof format), 0);
  const WAVEFORMATEX expected = Pcm(2, 44100, 16);
  EXPECT_EQ(0, memcmp(format, &expected, 18));
  EXPECT_EQ(std::count(format + 18, format + sizeof format, 0), 1024 - 18);
  memset(format, 0xEE, sizeof format);
  EXPECT_EQ(r->ops->GetFormat(r, format, 10), 0);
  EXPECT_EQ(0, memcmp(format, &expected, 10));
  EXPECT_EQ(format[10], 0xEE);

  EXPECT_EQ(r->ops->unused4(r), E_NOTIMPL);
  EXPECT_EQ(r->ops->unused5(r), E_NOTIMPL);
}

TEST(Reader, RefusesAnythingButFinishedCompleteFiles) {
  ScratchFile file;
  WriteFinished(file, Pattern(5000));
  const std::vector<uint8_t> good = file.Bytes();

  std::vector<std::vector<uint8_t>> bad;
  bad.emplace_back(good.begin(), good.end() - 1);  // one PCM byte missing
  bad.emplace_back(good.begin(), good.begin() + 40);  // header cut short
  bad.push_back(good);
  bad.back()[0] = 'X';
  bad.push_back(good);
  bad.back()[4] = 40;  // another header size
  for (std::size_t i = 0; i < bad.size(); ++i) {
    file.Store(bad[i]);
    RecordingCallback callback;
    auto* const sentinel = reinterpret_cast<WmaReader*>(0x1234);
    WmaReader* r = sentinel;
    EXPECT_LT(WmaCreateReader(file.wide(), &callback, &r, 0), 0) << i;
    EXPECT_EQ(r, sentinel);
    EXPECT_EQ(callback.Refs(), 1);
    WmaInfo* info = nullptr;
    EXPECT_NE(WmaCreateInfo(file.wide(), &info), 0) << i;
    EXPECT_EQ(info, nullptr);
  }
  RecordingCallback callback;
  WmaReader* r = nullptr;
  EXPECT_LT(WmaCreateReader(L"no_such_file.vwma", &callback, &r, 0), 0);

  std::vector<uint8_t> longer = good;  // bytes after the PCM are ignored
  longer.push_back(1);
  file.Store(longer);
  WmaInfo* info = nullptr;
  ASSERT_EQ(WmaCreateInfo(file.wide(), &info), 0);
  EXPECT_EQ(info->ops->AddRef(info), 2u);
  EXPECT_EQ(info->ops->Release(info), 1u);
  EXPECT_EQ(info->ops->Release(info), 0u);
}

TEST(Reader, StartTwiceAndStopWithoutStartAreHarmless) {
  ScratchFile file;
  WriteFinished(file, Pattern(5000));
  ScratchFile trace("_trace");
  ScopedSwitch on("VELL_WMA_TRACE", trace.path());
  RecordingCallback callback;
  {
    Reader idle(file, &callback);
    idle.Stop();
    idle.Stop();
    EXPECT_EQ(idle.r->ops->Start(idle.r), S_FALSE);  // stopped for good
  }
  {
    Reader reader(file, &callback);
    reader.Start();
    EXPECT_EQ(reader.r->ops->Start(reader.r), S_FALSE);
    ASSERT_TRUE(callback.WaitEnded());
    reader.Stop();
    reader.Stop();
  }
  EXPECT_EQ(callback.calls, Then(Samples({4096, 904}), "status 3"));
  std::ifstream in(trace.path());
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{"CreateReader 0x00000000", "Stop", "Stop", "Start",
                                             "Release 0", "CreateReader 0x00000000", "Start",
                                             "Start", "Stop", "Stop", "Release 0"}));
}

TEST(Reader, StopEndsDeliveryWhileTheCallbackWaits) {
  ScratchFile file;
  WriteFinished(file, Pattern(100000));
  RecordingCallback callback;
  callback.gate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  {
    Reader reader(file, &callback);
    reader.Start();
    ASSERT_EQ(WaitForSingleObject(callback.entered, 10000), WAIT_OBJECT_0);
    SetEvent(callback.gate);  // as the plug-in sets its stop event before calling Stop
    reader.Stop();
    const std::size_t calls = callback.calls.size();
    Sleep(50);
    EXPECT_EQ(callback.calls.size(), calls);  // nothing after Stop has returned
  }
  CloseHandle(callback.gate);
  EXPECT_EQ(callback.Refs(), 1);
}

TEST(Reader, ReleaseStopsARunningReader) {
  ScratchFile file;
  WriteFinished(file, Pattern(100000));
  ScopedSwitch silent("VELL_WMA_SILENT_AFTER", "1");
  RecordingCallback callback;
  {
    Reader reader(file, &callback);
    reader.Start();
    ASSERT_EQ(WaitForSingleObject(callback.entered, 10000), WAIT_OBJECT_0);
  }  // released without Stop while its thread waits in silence
  EXPECT_EQ(callback.Refs(), 1);
  EXPECT_EQ(callback.calls, Samples({4096}));
}

TEST(Reader, StatusSwitchInterruptsThenGoesOn) {
  {
    ScopedSwitch status("VELL_WMA_STATUS", "7@1");
    EXPECT_EQ(RoundTrip(9000),
              (std::vector<std::string>{"sample 4096", "status 7", "sample 4096", "sample 808", "status 3"}));
  }
  ScopedSwitch status("VELL_WMA_STATUS", "0@3");  // 3 blocks: after the last, before the end
  EXPECT_EQ(RoundTrip(9000), Then(Then(Samples({4096, 4096, 808}), "status 0"), "status 3"));
}

TEST(Reader, SilentAfterDeliversNothingMoreUntilStop) {
  ScratchFile file;
  WriteFinished(file, Pattern(20000));
  for (const char* after : {"2", "9"}) {  // 9 is past the last of 5 blocks
    ScopedSwitch silent("VELL_WMA_SILENT_AFTER", after);
    RecordingCallback callback;
    Reader reader(file, &callback);
    reader.Start();
    EXPECT_FALSE(callback.WaitEnded(300)) << after;
    reader.Stop();
    EXPECT_EQ(callback.calls.size(), after[0] == '2' ? 2u : 5u);
  }
}

TEST(Reader, ExtraReferenceOutlivesStopThenIsReleased) {
  ScratchFile file;
  WriteFinished(file, Pattern(5000));
  ScopedSwitch extra("VELL_WMA_EXTRA_REF_MS", "300");
  RecordingCallback callback;
  {
    Reader reader(file, &callback);
    reader.Start();
    ASSERT_TRUE(callback.WaitEnded());
    reader.Stop();
  }
  EXPECT_EQ(callback.Refs(), 2);  // still held after the reader is gone
  for (int i = 0; i < 500 && callback.Refs() != 1; ++i) Sleep(10);
  EXPECT_EQ(callback.Refs(), 1);
}

TEST(Reader, CreationFailureSwitch) {
  ScratchFile file;
  WriteFinished(file, Pattern(100));
  ScopedSwitch fail("VELL_WMA_FAIL_CREATE", "reader, info");
  RecordingCallback callback;
  WmaReader* r = nullptr;
  EXPECT_LT(WmaCreateReader(file.wide(), &callback, &r, 0), 0);
  EXPECT_EQ(r, nullptr);
  EXPECT_EQ(callback.Refs(), 1);
  WmaInfo* info = nullptr;
  EXPECT_EQ(WmaCreateInfo(file.wide(), &info), E_FAIL);
  EXPECT_EQ(info, nullptr);
}
