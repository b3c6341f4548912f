// Every fault switch of the stand-in SDK against the WMA plug-in's real exports: creation
// failures, refused formats and writes, block sizes, statuses at any block, a reader that
// goes silent and a reference the SDK keeps after the close.
#include "campaign_env.h"

#include <algorithm>
#include <functional>

using namespace campaign;

namespace {

LoadedPlugin& Wma() { return Plugin("wma"); }

// A finished file of `frames` stereo sample frames; returns its PCM.
Bytes MakeWmaFile(const std::string& path, size_t frames) {
  const Bytes pcm = Signal(frames, 2, static_cast<uint32_t>(frames));
  SdkSwitches none;
  EXPECT_TRUE(Export(Wma(), "wma", path, pcm, 16384).ReportedComplete());
  return pcm;
}

// Reads in requests of `request` bytes until a short read, then checks one more read gives 0.
Bytes ReadAll(FilterHandle h, long request) {
  Bytes all, buffer(static_cast<size_t>(request));
  for (;;) {
    const long got = Wma().readInput(h, buffer.data(), request);
    EXPECT_GE(got, 0);
    if (got > 0) all.insert(all.end(), buffer.begin(), buffer.begin() + got);
    if (got < request) break;
  }
  EXPECT_EQ(Wma().readInput(h, buffer.data(), request), 0) << "a read after the end delivered bytes";
  return all;
}

FilterHandle OpenInput(const std::string& path) {
  long rate = 0, transfer = 0;
  WORD bits = 0, channels = 0;
  return Wma().openInput(path.c_str(), &rate, &bits, &channels, 0, &transfer);
}

std::vector<std::string> MessagesDuring(const std::function<void()>& action, size_t expected) {
  const size_t before = Watcher().Texts().size();
  action();
  if (expected) Watcher().WaitFor(before + expected);
  Sleep(expected ? 0 : 100);
  const auto all = Watcher().Texts();
  return std::vector<std::string>(all.begin() + before, all.end());
}

}  // namespace

TEST(WmaSwitches, FailedCreationGivesNullOrZeroWithoutMessage) {
  const std::string file = WorkFile("switch_create.wma");
  MakeWmaFile(file, 1000);
  for (const char* which : {"reader", "writer", "info", "reader,writer,info"}) {
    SdkSwitches sdk({{"VELL_WMA_FAIL_CREATE", which}});
    const std::string w(which);
    const auto texts = MessagesDuring([&] {
      long transfer = -7;
      FilterHandle out = Wma().openOutput(WorkFile("switch_out.wma").c_str(), 22050, 16, 2, 0, &transfer, 0);
      EXPECT_EQ(out == nullptr, w.find("writer") != std::string::npos) << which;
      if (out) Wma().closeOutput(out);
      else EXPECT_EQ(transfer, -7);
      FilterHandle in = OpenInput(file);
      EXPECT_EQ(in == nullptr, w.find("reader") != std::string::npos) << which;
      Wma().closeInput(in);
      EXPECT_EQ(Wma().understandsFormat(file.c_str()), w.find("info") != std::string::npos ? 0 : 1) << which;
    }, 0);
    EXPECT_TRUE(texts.empty()) << which;
  }
}

TEST(WmaSwitches, RefusedFormatsShowTheirMessageAndGiveNull) {
  struct Case { const char* output; const char* input; const char* message; };
  for (const Case& c : {Case{"1", nullptr, "Cannot set output format"}, Case{nullptr, "1", "Cannot set input format"},
                        Case{"1", "1", "Cannot set output format"}}) {
    SdkSwitches sdk;
    if (c.output) SetEnvironmentVariableA("VELL_WMA_REFUSE_OUTPUT", c.output);
    if (c.input) SetEnvironmentVariableA("VELL_WMA_REFUSE_INPUT", c.input);
    const auto texts = MessagesDuring([&] {
      long transfer = -7;
      EXPECT_EQ(Wma().openOutput(WorkFile("refused.wma").c_str(), 44100, 16, 2, 0, &transfer, 0), nullptr);
      EXPECT_EQ(transfer, -7);
    }, 1);
    EXPECT_EQ(texts, std::vector<std::string>{c.message});
  }
}

// The N-th write refused: only that call returns 0, and the file keeps every other block.
TEST(WmaSwitches, RefusedWriteIsReportedAndTheFileKeepsTheOtherBlocks) {
  const Bytes pcm = Signal(4 * 4096, 2);
  for (int refused = 1; refused <= 5; ++refused) {
    const std::string path = WorkFile("refused_write.wma");
    Bytes kept;
    {
      SdkSwitches sdk({{"VELL_WMA_REFUSE_WRITE", std::to_string(refused)}});
      const ExportReport r = Export(Wma(), "wma", path, pcm, 16384);
      ASSERT_TRUE(r.opened);
      for (size_t i = 0; i < r.results.size(); ++i) {
        EXPECT_EQ(r.results[i], static_cast<int>(i) + 1 == refused ? 0 : 16384) << refused << " " << i;
        if (static_cast<int>(i) + 1 != refused) kept.insert(kept.end(), pcm.begin() + i * 16384, pcm.begin() + (i + 1) * 16384);
      }
    }
    Bytes back;
    ASSERT_TRUE(Import(Wma(), path, 16384, back));
    EXPECT_EQ(back, kept) << refused;
  }
}

// Any SDK block size, fixed or growing, against small, odd and large host requests.
TEST(WmaSwitches, EveryBlockSizeDeliversEveryByteInOrder) {
  const std::string path = WorkFile("blocks.wma");
  const Bytes pcm = MakeWmaFile(path, 6000);
  const std::pair<const char*, const char*> blocks[] = {
      {"VELL_WMA_BLOCK", "1"},       {"VELL_WMA_BLOCK", "3"},        {"VELL_WMA_BLOCK", "4095"},
      {"VELL_WMA_BLOCK", "24000"},   {"VELL_WMA_BLOCK", "1000000"},  {"VELL_WMA_BLOCK_GROW", "1"},
      {"VELL_WMA_BLOCK_GROW", "333"}, {"VELL_WMA_BLOCK_GROW", "9000"}};
  for (const auto& b : blocks) {
    for (long request : {1L, 777L, 16384L, 100000L}) {
      if (std::string(b.second) == "1" && request < 777) continue;  // 24000 hand-offs of one byte each
      SdkSwitches sdk({{b.first, b.second}});
      FilterHandle h = OpenInput(path);
      ASSERT_NE(h, nullptr);
      EXPECT_EQ(ReadAll(h, request), pcm) << b.first << "=" << b.second << " request " << request;
      Wma().closeInput(h);
    }
  }
}

// A status before any block: 0 and 7 show their message and end the stream there, 3 ends
// it, the others are passed over.
TEST(WmaSwitches, StatusesAtAnyBlock) {
  const std::string path = WorkFile("status.wma");
  const Bytes pcm = MakeWmaFile(path, 5000);  // 20000 bytes: five blocks of 4096
  for (int status : {0, 7, 3, 1, 2, 4, 5, 6, 8, 100}) {
    for (int block : {0, 1, 4, 5, 9}) {
      SdkSwitches sdk({{"VELL_WMA_STATUS", std::to_string(status) + "@" + std::to_string(block)},
                       {"VELL_WMA_BLOCK", "4096"}});
      const bool ends = (status == 0 || status == 7 || status == 3) && block <= 5;
      const bool message = (status == 0 || status == 7) && block <= 5;
      Bytes got;
      const auto texts = MessagesDuring([&] {
        FilterHandle h = OpenInput(path);
        ASSERT_NE(h, nullptr);
        got = ReadAll(h, 3000);
        Wma().closeInput(h);
      }, message ? 1 : 0);
      const size_t expected = ends ? std::min<size_t>(pcm.size(), 4096u * block) : pcm.size();
      EXPECT_EQ(got, Bytes(pcm.begin(), pcm.begin() + expected)) << status << "@" << block;
      EXPECT_EQ(texts.size(), message ? 1u : 0u) << status << "@" << block;
      if (message && !texts.empty())
        EXPECT_EQ(texts[0], status == 0 ? "Unknown error." : "Codec not installed.");
    }
  }
}

// A reader that stops delivering without a status ends the read after the plug-in's limit.
void SilentReader(int after) {
  const std::string path = WorkFile("silent.wma");
  const Bytes pcm = MakeWmaFile(path, 5000);
  SdkSwitches sdk({{"VELL_WMA_SILENT_AFTER", std::to_string(after)}, {"VELL_WMA_BLOCK", "4096"}});
  FilterHandle h = OpenInput(path);
  ASSERT_NE(h, nullptr);
  const DWORD start = GetTickCount();
  const Bytes got = ReadAll(h, 100000);
  const DWORD waited = GetTickCount() - start;
  Wma().closeInput(h);
  EXPECT_EQ(got, Bytes(pcm.begin(), pcm.begin() + std::min<size_t>(pcm.size(), 4096u * after)));
  printf("[ outcome  ] silent after %d blocks: the read returned after %lu ms\n", after, static_cast<unsigned long>(waited));
  EXPECT_LT(waited, 120000u);
}
TEST(WmaSwitches, SilentReaderAfterTwoBlocks) { SilentReader(2); }
TEST(WmaSwitchesLong, SilentReaderAtOnceAndAfterTheLastBlock) {
  SilentReader(0);
  SilentReader(5);
}

// The SDK lets go of the context only after the close; the release comes later, from its
// own thread, and finds the context whole.
TEST(WmaSwitches, ReferenceKeptPastTheCloseIsReleasedSafely) {
  const std::string path = WorkFile("extra_ref.wma");
  MakeWmaFile(path, 3000);
  for (long readBefore : {0L, 5000L, 100000L}) {
    SdkSwitches sdk({{"VELL_WMA_EXTRA_REF_MS", "150"}});
    FilterHandle h = OpenInput(path);
    ASSERT_NE(h, nullptr);
    Bytes buffer(static_cast<size_t>(readBefore) + 1);
    if (readBefore) Wma().readInput(h, buffer.data(), readBefore);
    const DWORD start = GetTickCount();
    Wma().closeInput(h);
    EXPECT_LT(GetTickCount() - start, 2000u) << "the close waited for the SDK's late release";
    Sleep(300);
  }
}

// The host may unload the plug-in right after the close, while the SDK still holds its
// reference: the late release must not run code that is gone. Run on its own (the rest of
// the program keeps the plug-in loaded): campaign_tests --gtest_filter=WmaUnload.*
TEST(WmaUnload, PluginUnloadedWhileTheSdkStillHoldsTheContext) {
  const std::string path = WorkFile("unload.wma");
  {
    LoadedPlugin writer((ProgramDirectory() + "vell_wma.flt").c_str());
    ASSERT_TRUE(Export(writer, "wma", path, Signal(3000, 2), 16384).ReportedComplete());
  }
  for (int round = 0; round < 3; ++round) {
    SdkSwitches sdk({{"VELL_WMA_EXTRA_REF_MS", "200"}});
    {
      LoadedPlugin p((ProgramDirectory() + "vell_wma.flt").c_str());
      long rate = 0, transfer = 0;
      WORD bits = 0, channels = 0;
      FilterHandle h = p.openInput(path.c_str(), &rate, &bits, &channels, 0, &transfer);
      ASSERT_NE(h, nullptr);
      Bytes buffer(5000);
      p.readInput(h, buffer.data(), 5000);
      p.closeInput(h);
    }  // FreeLibrary here, as a host may do
    Sleep(500);  // the late release happens now
    printf("[ outcome  ] round %d: plug-in %s after the late release\n", round,
           GetModuleHandleA("vell_wma.flt") ? "still loaded" : "unloaded");
  }
}

// Random imports one after another: SDK block sizes, host request sizes, statuses and the
// point of the close all drawn at random (a fixed seed, so a failure repeats). Each read
// must deliver the stream's next bytes and come back; the thread race between the host's
// reads and the SDK's deliveries gets many chances to go wrong.
void Soak(int imports, uint32_t seed) {
  const std::string path = WorkFile("soak.wma");
  const Bytes pcm = MakeWmaFile(path, 8000);  // 32000 bytes
  uint32_t x = seed;
  auto next = [&x](uint32_t n) {
    x = x * 1103515245u + 12345u;
    return (x >> 8) % n;
  };
  for (int i = 0; i < imports; ++i) {
    const std::string block = std::to_string(1 + next(next(2) ? 300 : 20000));
    const int status = next(4) == 0 ? static_cast<int>(next(9)) : -1;
    SdkSwitches sdk({{next(3) ? "VELL_WMA_BLOCK" : "VELL_WMA_BLOCK_GROW", block}});
    if (status >= 0) SetEnvironmentVariableA("VELL_WMA_STATUS", (std::to_string(status) + "@" + std::to_string(next(6))).c_str());
    const long request = static_cast<long>(next(2) ? 1 + next(64) : 1 + next(40000));
    const size_t closeAfter = next(3) ? SIZE_MAX : next(40);
    Bytes got;
    const auto texts = MessagesDuring([&] {
      FilterHandle h = OpenInput(path);
      ASSERT_NE(h, nullptr);
      Bytes buffer(static_cast<size_t>(request));
      for (size_t call = 0; call < closeAfter; ++call) {
        const DWORD start = GetTickCount();
        const long n = Wma().readInput(h, buffer.data(), request);
        ASSERT_LT(GetTickCount() - start, 10000u) << "a read took more than 10 s";
        ASSERT_GE(n, 0);
        got.insert(got.end(), buffer.begin(), buffer.begin() + n);
        if (n < request) break;
      }
      Wma().closeInput(h);
    }, status == 0 || status == 7 ? 1 : 0);
    ASSERT_LE(got.size(), pcm.size()) << "import " << i;
    ASSERT_TRUE(std::equal(got.begin(), got.end(), pcm.begin())) << "import " << i << ": bytes out of order";
    if (status < 0 && closeAfter == SIZE_MAX) ASSERT_EQ(got.size(), pcm.size()) << "import " << i;
  }
}
TEST(WmaSwitches, RandomImportsOneAfterAnother) { Soak(60, 1); }
TEST(WmaSwitchesLong, RandomImportsOneAfterAnother) { Soak(2000, 2); }
