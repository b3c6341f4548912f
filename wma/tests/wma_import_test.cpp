// The WMA plug-in's import through its real exports, with the stand-in SDK's reader
// delivering blocks from its own thread; its switches shape the blocks and the faults.
#include "wma_test_support.h"
#include "message_box_watcher.h"
#include "wmaudsdk_api.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

class WmaImport : public ::testing::Test {
 protected:
  LoadedPlugin plugin{PluginPath().c_str()};
  std::string path = TestFile("import.wma");
  void SetUp() override { ASSERT_TRUE(plugin.loaded()) << PluginPath(); }
  void TearDown() override { DeleteFileA(path.c_str()); }

  FilterHandle Open() {
    long rate = 0, transfer = 0;
    WORD bits = 0, channels = 0;
    return plugin.openInput(path.c_str(), &rate, &bits, &channels, 0, &transfer);
  }
  void Close(FilterHandle in) {
    FinishesWithin(10000, [&] { plugin.closeInput(in); });
  }
  // Opens path, reads it all in the given host blocks and closes it.
  std::vector<uint8_t> Import(const std::vector<long>& hostBlocks) {
    FilterHandle in = Open();
    EXPECT_NE(in, nullptr);
    if (!in) return {};
    std::vector<uint8_t> got;
    FinishesWithin(20000, [&] { got = ReadAll(plugin, in, hostBlocks); });
    EXPECT_EQ(plugin.readInput(in, got.data(), 100), 0) << "a read after the end";
    Close(in);
    return got;
  }
};

TEST_F(WmaImport, DeliversEveryByteInOrderForAnyHostAndSdkBlockSizes) {
  const std::vector<uint8_t> pcm = Pattern(50001);
  WriteContainer(path, {}, pcm);
  const std::pair<const char*, const char*> sdkBlocks[] = {
      {"VELL_WMA_BLOCK", "4096"}, {"VELL_WMA_BLOCK", "1000"}, {"VELL_WMA_BLOCK_GROW", "700"}};
  const std::vector<long> hostBlocks[] = {{1000}, {4096}, {3 * 4096 + 100}, {16384}, {1, 5000, 7}};
  for (const auto& sdk : sdkBlocks) {
    SdkSwitches blocks{{sdk.first, sdk.second}};
    for (const std::vector<long>& host : hostBlocks)
      EXPECT_TRUE(Import(host) == pcm) << sdk.first << "=" << sdk.second << " host " << host[0];
  }
}

TEST_F(WmaImport, EndOfStreamRightAfterTheLastBlockKeepsThatBlock) {
  const std::vector<uint8_t> pcm = Pattern(4 * 4096);
  WriteContainer(path, {}, pcm);
  SdkSwitches none;
  FilterHandle in = Open();
  ASSERT_NE(in, nullptr);
  std::vector<uint8_t> block(4096);
  FinishesWithin(10000, [&] {
    for (int i = 0; i < 4; ++i) {
      ASSERT_EQ(plugin.readInput(in, block.data(), 4096), 4096);
      EXPECT_TRUE(std::equal(block.begin(), block.end(), pcm.begin() + i * 4096));
    }
    EXPECT_EQ(plugin.readInput(in, block.data(), 4096), 0);
    EXPECT_EQ(plugin.readInput(in, block.data(), 0), 0);
  });
  Close(in);

  WriteContainer(path, {}, {});  // an empty stream ends at once
  EXPECT_TRUE(Import({4096}).empty());
}

TEST_F(WmaImport, OpenReportsTheStreamAndItsOptions) {
  SdkSwitches none;
  StreamFormat stream;
  stream.bitRate = 128000;
  stream.durationMs = 1000;
  WriteContainer(path, stream, Pattern(100));
  long rate = 0, transfer = 0;
  WORD bits = 0, channels = 0;
  FilterHandle in = plugin.openInput(path.c_str(), &rate, &bits, &channels, 0, &transfer);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(std::make_tuple(rate, bits, channels, transfer),
            std::make_tuple(44100L, WORD(16), WORD(2), 16384L));
  EXPECT_EQ(plugin.getFileSize(in), 176576);  // 1001 ms of 16-bit stereo, rounded
  EXPECT_EQ(plugin.options(in), 31u);
  char text[32];
  std::memset(text, 'x', sizeof text);
  EXPECT_EQ(plugin.optionsString(in, text), 0u);
  EXPECT_STREQ(text, "128000 bps");
  // The context is the SDK's callback object; it offers no interface, not even the base.
  auto* callback = static_cast<WmaReaderCallback*>(in);
  void* out = &text;
  const GUID unknown = {0, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  EXPECT_EQ(callback->ops->QueryInterface(callback, &unknown, &out), E_NOINTERFACE);
  EXPECT_EQ(out, &text);
  Close(in);

  stream = StreamFormat{};
  stream.bitRate = 20000;
  stream.sampleRate = 22050;
  stream.channels = 1;
  stream.bitsPerSample = 8;
  WriteContainer(path, stream, Pattern(100));
  in = plugin.openInput(path.c_str(), &rate, &bits, &channels, 0, &transfer);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(std::make_tuple(rate, bits, channels), std::make_tuple(22050L, WORD(8), WORD(1)));
  EXPECT_EQ(plugin.getFileSize(in), 44);  // 1 ms of 16-bit mono at 22050 Hz: the factor 2 is fixed
  EXPECT_EQ(plugin.options(in), 13u);
  Close(in);

  EXPECT_EQ(plugin.getFileSize(nullptr), 0);
  EXPECT_EQ(plugin.options(nullptr), 0u);
  EXPECT_EQ(plugin.readInput(nullptr, text, 10), 0);
}

TEST_F(WmaImport, UnderstandsOnlyWhatTheSdkAccepts) {
  SdkSwitches none;
  WriteContainer(path, {}, Pattern(100));
  EXPECT_EQ(plugin.understandsFormat(path.c_str()), 1);
  {
    SdkSwitches fault{{"VELL_WMA_FAIL_CREATE", "info"}};
    EXPECT_EQ(plugin.understandsFormat(path.c_str()), 0);
  }
  {
    MessageBoxWatcher watcher;
    SdkSwitches fault{{"VELL_WMA_FAIL_CREATE", "reader"}};
    EXPECT_EQ(Open(), nullptr);
    Sleep(200);
    EXPECT_TRUE(watcher.Texts().empty()) << "a failed open shows no message";
  }
  std::vector<uint8_t> junk = Pattern(100);
  WriteWholeFile(path, junk);
  EXPECT_EQ(plugin.understandsFormat(path.c_str()), 0);
  EXPECT_EQ(Open(), nullptr);
  DeleteFileA(path.c_str());
  EXPECT_EQ(plugin.understandsFormat(path.c_str()), 0);
  EXPECT_EQ(Open(), nullptr);
}

// The reader's and info object's calls as the stand-in SDK records them: the format (1024
// bytes) before the two attributes, start last; at the close stop, then release; a refused
// creation and nothing more. The same whether the stream was read to its end or not.
TEST_F(WmaImport, SdkCallsComeInOrder) {
  WriteContainer(path, {}, Pattern(10000));
  const std::string trace = TestFile("import.trace");
  SdkSwitches tracing{{"VELL_WMA_TRACE", trace}};
  EXPECT_EQ(plugin.understandsFormat(path.c_str()), 1);
  EXPECT_EQ(Import({4096}).size(), 10000u);
  FilterHandle in = Open();
  ASSERT_NE(in, nullptr);
  std::vector<uint8_t> block(100);
  EXPECT_EQ(plugin.readInput(in, block.data(), 100), 100);
  Close(in);
  {
    SdkSwitches refuse{{"VELL_WMA_FAIL_CREATE", "reader"}, {"VELL_WMA_TRACE", trace}};
    EXPECT_EQ(Open(), nullptr);
  }
  const std::vector<std::string> import = {"CreateReader 0x00000000", "GetFormat 1024",
                                           "GetAttribute Duration", "GetAttribute Bitrate",
                                           "Start", "Stop", "Release 0"};
  std::vector<std::string> expected = {"CreateInfo 0x00000000", "Release 0"};
  expected.insert(expected.end(), import.begin(), import.end());
  expected.insert(expected.end(), import.begin(), import.end());
  expected.push_back("CreateReader 0x80004005");
  EXPECT_EQ(TraceLines(trace), expected);
  DeleteFileA(trace.c_str());
}

TEST_F(WmaImport, ClosingEndsADeliveryThreadWaitingInOnSample) {
  SdkSwitches none;
  WriteContainer(path, {}, Pattern(100000));
  FilterHandle in = Open();  // the reader's thread now waits with its first block
  ASSERT_NE(in, nullptr);
  Sleep(100);
  Close(in);
  in = Open();
  ASSERT_NE(in, nullptr);
  std::vector<uint8_t> block(5000);
  EXPECT_EQ(plugin.readInput(in, block.data(), 5000), 5000);  // stops inside block 2
  Close(in);
}

TEST_F(WmaImport, ContextOutlivesCloseWhileTheSdkHoldsAReference) {
  WriteContainer(path, {}, Pattern(100000));
  std::vector<uint8_t> block(5000);
  const auto handles = OpenHandleCount;
  // One import first, so that whatever the process keeps for good is there already.
  { SdkSwitches none; Import({5000}); }
  const DWORD before = handles();
  SdkSwitches late{{"VELL_WMA_EXTRA_REF_MS", "600"}};
  FilterHandle in = Open();
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(plugin.readInput(in, block.data(), 5000), 5000);
  Close(in);
  EXPECT_GT(handles(), before) << "the events go only with the SDK's last reference";
  Sleep(1500);  // the SDK releases its reference from its own thread meanwhile
  EXPECT_EQ(handles(), before);
  EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, nullptr));
}

// A host may unload the plug-in right after the close while the SDK still holds the
// context: the SDK's late release must not run into code that is gone.
TEST_F(WmaImport, HostMayUnloadThePluginWhileTheSdkStillHoldsTheContext) {
  WriteContainer(path, {}, Pattern(100000));
  std::vector<uint8_t> block(5000);
  SdkSwitches late{{"VELL_WMA_EXTRA_REF_MS", "300"}};
  FilterHandle in = Open();
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(plugin.readInput(in, block.data(), 5000), 5000);
  Close(in);
  FreeLibrary(plugin.module);  // nothing else in this program holds the plug-in
  plugin.module = nullptr;
  Sleep(800);  // the SDK releases its reference from its own thread meanwhile
}

// Status 0 and 7 show their message and end the stream with what was delivered.
TEST_F(WmaImport, ErrorStatusShowsItsMessageAndEndsTheStream) {
  const std::vector<uint8_t> pcm = Pattern(10000);
  WriteContainer(path, {}, pcm);
  MessageBoxWatcher watcher;
  struct Case { const char* status; size_t delivered; const char* message; };
  for (const Case& c : {Case{"0@2", 2000, "Unknown error."}, Case{"7@0", 0, "Codec not installed."},
                        Case{"5@1", 10000, nullptr}}) {
    SdkSwitches fault{{"VELL_WMA_BLOCK", "1000"}, {"VELL_WMA_STATUS", c.status}};
    const size_t before = watcher.Texts().size();
    const std::vector<uint8_t> got = Import({3000});
    ASSERT_EQ(got.size(), c.delivered) << c.status;
    EXPECT_TRUE(std::equal(got.begin(), got.end(), pcm.begin()));
    if (c.message) {
      ASSERT_TRUE(watcher.WaitFor(before + 1));
      EXPECT_EQ(watcher.Texts().back(), c.message);
    } else {
      EXPECT_EQ(watcher.Texts().size(), before);
    }
  }
}

// The host closes while the SDK's thread shows the error message: the close waits for the
// reader to stop, which it does once the message is dismissed, and nothing is freed early.
TEST_F(WmaImport, CloseWhileTheErrorMessageIsShown) {
  WriteContainer(path, {}, Pattern(10000));
  MessageBoxWatcher watcher;
  SdkSwitches fault{{"VELL_WMA_BLOCK", "1000"}, {"VELL_WMA_STATUS", "0@1"}};
  FilterHandle in = Open();
  ASSERT_NE(in, nullptr);
  std::vector<uint8_t> block(500);
  EXPECT_EQ(plugin.readInput(in, block.data(), 500), 500);  // the status comes next
  Close(in);
  EXPECT_EQ(watcher.Texts(), std::vector<std::string>{"Unknown error."});
  EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, nullptr));
}

// A reader that stops delivering without a status ends the stream after the silent-reader
// limit (30 s) instead of hanging the host. Slow on purpose: it really waits.
TEST_F(WmaImport, SilentReaderEndsTheStreamAfterTheLimit) {
  const std::vector<uint8_t> pcm = Pattern(10000);
  WriteContainer(path, {}, pcm);
  SdkSwitches fault{{"VELL_WMA_BLOCK", "1000"}, {"VELL_WMA_SILENT_AFTER", "2"}};
  FilterHandle in = Open();
  ASSERT_NE(in, nullptr);
  std::vector<uint8_t> block(10000);
  long got = -1;
  const DWORD start = GetTickCount();
  FinishesWithin(90000, [&] { got = plugin.readInput(in, block.data(), 10000); });
  const DWORD waited = GetTickCount() - start;
  EXPECT_EQ(got, 2000);
  EXPECT_TRUE(std::equal(block.begin(), block.begin() + 2000, pcm.begin()));
  EXPECT_GE(waited, 29000u);
  EXPECT_LT(waited, 60000u);
  FinishesWithin(1000, [&] { EXPECT_EQ(plugin.readInput(in, block.data(), 100), 0); });
  Close(in);
}

}  // namespace
