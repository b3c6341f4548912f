// The writer through the library's exports: the file it makes, what it refuses, and
// the switches that make it fail.
#include "test_support.h"

#include <cstring>
#include <fstream>

using namespace vwma_test;

namespace {

uint32_t Le32(const std::vector<uint8_t>& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

class Writer {
 public:
  explicit Writer(const ScratchFile& file) { result = WmaCreateWriter(file.wide(), &w); }
  ~Writer() {
    if (w) w->ops->Release(w);
  }
  HRESULT Output(DWORD bitRate, DWORD rate, DWORD channels) {
    return w->ops->SetOutputFormat(w, bitRate, rate, channels, 0);
  }
  HRESULT Input(const WAVEFORMATEX& f) { return w->ops->SetInputFormat(w, &f); }
  HRESULT Write(const std::vector<uint8_t>& b) {
    return w->ops->Write(w, b.data(), static_cast<DWORD>(b.size()));
  }
  HRESULT result;
  WmaWriter* w = nullptr;
};

}  // namespace

TEST(Writer, FileHoldsHeaderAndPcmAsWritten) {
  ScratchFile file;
  const std::vector<uint8_t> pcm = Pattern(22050 + 3);
  {
    Writer wr(file);
    ASSERT_EQ(wr.result, 0);
    ASSERT_EQ(wr.Output(32000, 22050, 2), 0);
    ASSERT_EQ(wr.Input(Pcm(1, 22050, 8)), 0);
    ASSERT_EQ(wr.Write({pcm.begin(), pcm.begin() + 1000}), 0);
    ASSERT_EQ(wr.w->ops->Write(wr.w, nullptr, 0), 0);  // an empty block is accepted
    ASSERT_EQ(wr.Write({pcm.begin() + 1000, pcm.end()}), 0);
    ASSERT_EQ(wr.w->ops->Finish(wr.w), 0);
  }
  const std::vector<uint8_t> b = file.Bytes();
  ASSERT_EQ(b.size(), 48 + pcm.size());
  EXPECT_EQ(0, memcmp(b.data(), "VWMA", 4));
  EXPECT_EQ(Le32(b, 4), 48u);
  EXPECT_EQ(Le32(b, 8), 32000u);
  EXPECT_EQ(Le32(b, 12), 22050u);
  EXPECT_EQ(Le32(b, 16), 2u);
  const WAVEFORMATEX f = Pcm(1, 22050, 8);
  EXPECT_EQ(0, memcmp(b.data() + 20, &f, 18));
  EXPECT_EQ(b[38] | b[39], 0);
  EXPECT_EQ(Le32(b, 40), pcm.size());
  EXPECT_EQ(Le32(b, 44), 1000u);  // 22053 bytes at 22050 bytes/s, rounded down
  EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), b.begin() + 48));
}

TEST(Writer, UnfinishedFileIsRefusedByReaderAndInfo) {
  ScratchFile file;
  {
    Writer wr(file);
    ASSERT_EQ(wr.Output(96000, 44100, 2), 0);
    ASSERT_EQ(wr.Input(Pcm(2, 44100, 16)), 0);
    ASSERT_EQ(wr.Write(Pattern(4000)), 0);
  }  // released without Finish
  const std::vector<uint8_t> b = file.Bytes();
  ASSERT_EQ(b.size(), 48u + 4000u);
  EXPECT_EQ(Le32(b, 40), 0xFFFFFFFFu);

  RecordingCallback callback;
  auto* const sentinel = reinterpret_cast<WmaReader*>(0x1234);
  WmaReader* reader = sentinel;
  EXPECT_LT(WmaCreateReader(file.wide(), &callback, &reader, 0), 0);
  EXPECT_EQ(reader, sentinel);
  EXPECT_EQ(callback.Refs(), 1);
  WmaInfo* info = nullptr;
  EXPECT_NE(WmaCreateInfo(file.wide(), &info), 0);
  EXPECT_EQ(info, nullptr);
}

TEST(Writer, OutputFormatMustBeAnOfferedEncoding) {
  ScratchFile file;
  Writer wr(file);
  EXPECT_NE(wr.Output(96001, 44100, 2), 0);   // not whole kbit/s
  EXPECT_NE(wr.Output(20000, 44100, 2), 0);   // no such row
  EXPECT_NE(wr.Output(96000, 44100, 1), 0);
  EXPECT_NE(wr.Output(0, 0, 0), 0);
  EXPECT_EQ(wr.Output(5000, 8000, 1), 0);
  EXPECT_EQ(wr.Output(160000, 48000, 2), 0);
}

TEST(Writer, InputFormatMustBePlainPcm) {
  ScratchFile file;
  Writer wr(file);
  WAVEFORMATEX f = Pcm(2, 44100, 16);
  f.wFormatTag = 3;
  EXPECT_NE(wr.Input(f), 0);
  EXPECT_NE(wr.Input(Pcm(2, 44100, 24)), 0);
  EXPECT_NE(wr.Input(Pcm(3, 44100, 16)), 0);
  EXPECT_NE(wr.Input(Pcm(0, 44100, 16)), 0);
  f = Pcm(2, 44100, 16);
  f.nBlockAlign = 2;
  EXPECT_NE(wr.Input(f), 0);
  f = Pcm(2, 44100, 16);
  f.nAvgBytesPerSec = 88200;
  EXPECT_NE(wr.Input(f), 0);
  EXPECT_NE(wr.w->ops->SetInputFormat(wr.w, nullptr), 0);
  EXPECT_EQ(wr.Input(Pcm(1, 22050, 8)), 0);
  EXPECT_EQ(wr.Input(Pcm(2, 48000, 16)), 0);
}

TEST(Writer, WriteNeedsBothFormatsAndUnusedSlotsAnswerNotImplemented) {
  ScratchFile file;
  Writer wr(file);
  const std::vector<uint8_t> pcm = Pattern(64);
  EXPECT_NE(wr.Write(pcm), 0);
  EXPECT_NE(wr.w->ops->Finish(wr.w), 0);
  ASSERT_EQ(wr.Output(96000, 44100, 2), 0);
  EXPECT_NE(wr.Write(pcm), 0);
  ASSERT_EQ(wr.Input(Pcm(2, 44100, 16)), 0);
  EXPECT_EQ(wr.Write(pcm), 0);
  EXPECT_NE(wr.Output(128000, 44100, 2), 0);  // formats are fixed once PCM is stored
  EXPECT_EQ(wr.w->ops->Finish(wr.w), 0);
  EXPECT_NE(wr.Write(pcm), 0);  // nothing after the file is finished

  void* out = &file;
  const GUID unknown = {0, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  EXPECT_EQ(wr.w->ops->QueryInterface(wr.w, &unknown, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(wr.w->ops->unused3(wr.w), E_NOTIMPL);
  EXPECT_EQ(wr.w->ops->unused6(wr.w), E_NOTIMPL);
  EXPECT_EQ(wr.w->ops->AddRef(wr.w), 2u);
  EXPECT_EQ(wr.w->ops->Release(wr.w), 1u);
}

TEST(Writer, CreationFailsWithoutTouchingThePointer) {
  auto* const sentinel = reinterpret_cast<WmaWriter*>(0x1234);
  WmaWriter* w = sentinel;
  EXPECT_NE(WmaCreateWriter(L"no_such_directory\\x.vwma", &w), 0);
  EXPECT_EQ(w, sentinel);

  ScratchFile file;
  ScopedSwitch fail("VELL_WMA_FAIL_CREATE", "info,writer");
  EXPECT_EQ(WmaCreateWriter(file.wide(), &w), E_FAIL);
  EXPECT_EQ(w, sentinel);
}

TEST(Writer, RefusalSwitches) {
  ScratchFile file;
  const std::vector<uint8_t> pcm = Pattern(300);
  {
    ScopedSwitch output("VELL_WMA_REFUSE_OUTPUT", "1");
    Writer wr(file);
    EXPECT_NE(wr.Output(96000, 44100, 2), 0);
    EXPECT_EQ(wr.Input(Pcm(2, 44100, 16)), 0);
  }
  {
    ScopedSwitch input("VELL_WMA_REFUSE_INPUT", "1");
    Writer wr(file);
    EXPECT_EQ(wr.Output(96000, 44100, 2), 0);
    EXPECT_NE(wr.Input(Pcm(2, 44100, 16)), 0);
  }
  ScopedSwitch write("VELL_WMA_REFUSE_WRITE", "2");
  Writer wr(file);
  ASSERT_EQ(wr.Output(96000, 44100, 2), 0);
  ASSERT_EQ(wr.Input(Pcm(2, 44100, 16)), 0);
  EXPECT_EQ(wr.Write({pcm.begin(), pcm.begin() + 100}), 0);
  EXPECT_NE(wr.Write({pcm.begin() + 100, pcm.begin() + 200}), 0);  // only the second call fails
  EXPECT_EQ(wr.Write({pcm.begin() + 200, pcm.end()}), 0);
  ASSERT_EQ(wr.w->ops->Finish(wr.w), 0);
  const std::vector<uint8_t> b = file.Bytes();
  ASSERT_EQ(b.size(), 48u + 200u);
  EXPECT_TRUE(std::equal(pcm.begin(), pcm.begin() + 100, b.begin() + 48));
  EXPECT_TRUE(std::equal(pcm.begin() + 200, pcm.end(), b.begin() + 148));
}

TEST(Writer, TraceNamesEveryCall) {
  ScratchFile file;
  ScratchFile trace("_trace");
  {
    ScopedSwitch on("VELL_WMA_TRACE", trace.path());
    Writer wr(file);
    wr.Output(96000, 44100, 2);
    wr.Input(Pcm(2, 44100, 16));
    wr.Write(Pattern(65536));
    wr.w->ops->Finish(wr.w);
  }
  std::ifstream in(trace.path());
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "CreateWriter 0x00000000", "SetOutputFormat 96000 44100 2 0",
                       "SetInputFormat 1 2 44100 176400 4 16 0", "Write 65536", "Finish",
                       "Release 0"}));
}

// Run by CTest under a file-size limit of 1 MiB (see CMakeLists.txt): a write the disk
// refuses fails without leaving part of its block behind, and the file stays usable.
TEST(WriterDiskFull, DISABLED_RefusedWriteLeavesAConsistentFile) {
  ScratchFile file;
  const std::vector<uint8_t> block = Pattern(65536 + 4);
  uint32_t accepted = 0;
  HRESULT failure = S_OK;
  {
    Writer wr(file);
    ASSERT_EQ(wr.Output(96000, 44100, 2), 0);
    ASSERT_EQ(wr.Input(Pcm(2, 44100, 16)), 0);
    for (int i = 0; i < 64 && failure == S_OK; ++i) {
      failure = wr.Write(block);
      if (failure == S_OK) accepted += block.size();
    }
    ASSERT_NE(failure, S_OK) << "no write was refused: not run under a file-size limit?";
    EXPECT_EQ(wr.w->ops->Finish(wr.w), 0);
  }
  EXPECT_EQ(file.Bytes().size(), 48u + accepted);
  RecordingCallback callback;
  WmaReader* r = nullptr;
  ASSERT_EQ(WmaCreateReader(file.wide(), &callback, &r, 0), 0);
  r->ops->Start(r);
  EXPECT_TRUE(callback.WaitEnded());
  r->ops->Release(r);
  EXPECT_EQ(callback.data.size(), accepted);
}
