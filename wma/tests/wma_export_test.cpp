// The WMA plug-in's self-description and export, driven through its real exports with
// the stand-in SDK beside it; the written container shows what reached the writer.
#include "wma_expected_formats.h"
#include "wma_test_support.h"
#include "message_box_watcher.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

class WmaExport : public ::testing::Test {
 protected:
  LoadedPlugin plugin{PluginPath().c_str()};
  void SetUp() override { ASSERT_TRUE(plugin.loaded()) << PluginPath(); }

  // Exports pcm in two writes; returns the written file, or nothing if the open failed.
  std::vector<uint8_t> Export(const std::string& path, DWORD options, long rate, WORD bits,
                              WORD channels, const std::vector<uint8_t>& pcm) {
    long transfer = 0;
    FilterHandle out = plugin.openOutput(path.c_str(), rate, bits, channels,
                                         static_cast<long>(pcm.size()), &transfer, options);
    if (!out) return {};
    EXPECT_EQ(transfer, 65536);
    const long half = static_cast<long>(pcm.size() / 2);
    EXPECT_EQ(plugin.writeOutput(out, pcm.data(), half), half);
    const long rest = static_cast<long>(pcm.size()) - half;
    EXPECT_EQ(plugin.writeOutput(out, pcm.data() + half, rest), rest);
    plugin.closeOutput(out);
    return ReadWholeFile(path);
  }
};

TEST_F(WmaExport, QueryWritesOnlyItsOwnFields) {
  std::vector<uint8_t> record(160, 0xAB);
  auto* query = reinterpret_cast<FilterQuery*>(record.data());
  EXPECT_EQ(plugin.query(query) & 0xFFFF, VELL_FILTER_QUERY_RESULT);
  EXPECT_STREQ(query->name, "Windows Media Audio");
  EXPECT_GT(std::strlen(query->description), 0u);
  EXPECT_LT(std::strlen(query->description), sizeof query->description);
  EXPECT_STREQ(query->extension, "WMA");
  EXPECT_EQ(std::string(query->extension2, 4), std::string("ASF\0", 4));
  EXPECT_EQ(query->flags, 0x106u);
  EXPECT_EQ(query->blockSize, 2048u);
  const int expected[14] = {0, 0, 0, 60, -1, 60, 0, 0, 60, -1, 60, 0, 0, -1};
  for (int i = 0; i < 14; ++i)
    EXPECT_EQ(query->capabilityWords[i], expected[i] < 0 ? 0xABAB : expected[i]) << "word " << i;
  for (size_t i = 148; i < record.size(); ++i) EXPECT_EQ(record[i], 0xAB) << "byte " << i;

  long rate = 1234;
  WORD bits = 5, channels = 7;
  plugin.suggestSampleType(&rate, &bits, &channels);
  EXPECT_EQ(std::make_tuple(rate, bits, channels), std::make_tuple(1234L, WORD(5), WORD(7)));
  EXPECT_EQ(plugin.writeSpecialData(nullptr, nullptr, nullptr, nullptr, 0), 0u);
  EXPECT_EQ(plugin.getFirstSpecialData(nullptr, nullptr), 0u);
  EXPECT_EQ(plugin.getNextSpecialData(nullptr, nullptr), 0u);
}

TEST_F(WmaExport, OptionsWordChoosesTheRowTheWriterEncodesTo) {
  SdkSwitches none;
  const std::vector<uint8_t> pcm = Pattern(10000);
  struct Case { DWORD options; uint32_t bitRate, rate, channels; };
  // 35 names no row: like 0 it exports with row 30.
  for (const Case& c : {Case{0, 96000, 44100, 2}, Case{1, 5000, 8000, 1}, Case{35, 96000, 44100, 2},
                        Case{34, 160000, 48000, 2}, Case{0xFFFFFFFF, 96000, 44100, 2}}) {
    const std::string path = TestFile("options.wma");
    const std::vector<uint8_t> file = Export(path, c.options, 44100, 16, 2, pcm);
    ASSERT_EQ(file.size(), 48 + pcm.size()) << c.options;
    EXPECT_EQ(std::make_tuple(Le32(file, 8), Le32(file, 12), Le32(file, 16)),
              std::make_tuple(c.bitRate, c.rate, c.channels))
        << c.options;
    EXPECT_EQ(Le32(file, 40), pcm.size());
    EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), file.begin() + 48));
    DeleteFileA(path.c_str());
  }
}

// Every options word, through the writer's calls as the stand-in SDK records them: create,
// the compressed format of the word's row (bit/s, Hz, channels, and 0), the host's PCM
// format, each block whole, finish, release.
TEST_F(WmaExport, EachOptionsWordDrivesTheWriterWithItsRowInOrder) {
  const std::string trace = TestFile("order.trace");
  const std::string path = TestFile("order.wma");
  SdkSwitches tracing{{"VELL_WMA_TRACE", trace}};
  const std::vector<uint8_t> pcm = Pattern(3000);
  for (DWORD options = 0; options <= 34; ++options) {
    DeleteFileA(trace.c_str());
    ASSERT_EQ(Export(path, options, 22050, 8, 1, pcm).size(), 48 + pcm.size()) << options;
    const ExpectedFormatRow& row = kExpectedFormatRows[(options == 0 ? 30 : options) - 1];
    const std::string outputFormat = "SetOutputFormat " + std::to_string(row.kbps * 1000) + " " +
                                     std::to_string(row.sampleRate) + " " +
                                     std::to_string(row.channels) + " 0";
    EXPECT_EQ(TraceLines(trace),
              (std::vector<std::string>{"CreateWriter 0x00000000", outputFormat,
                                        "SetInputFormat 1 1 22050 22050 1 8 0", "Write 1500",
                                        "Write 1500", "Finish", "Release 0"}))
        << "options " << options << ": " << row.text;
  }
  DeleteFileA(trace.c_str());
  DeleteFileA(path.c_str());
}

TEST_F(WmaExport, PcmRecordFollowsTheHostsSampleType) {
  SdkSwitches none;
  struct Case { long rate; WORD bits, channels; uint32_t avg; uint16_t align; };
  for (const Case& c : {Case{44100, 16, 2, 176400, 4}, Case{22050, 8, 1, 22050, 1}}) {
    const std::string path = TestFile("pcm.wma");
    const std::vector<uint8_t> file = Export(path, 0, c.rate, c.bits, c.channels, Pattern(4000));
    ASSERT_GE(file.size(), 48u);
    EXPECT_EQ(std::make_tuple(Le16(file, 20), Le16(file, 22), Le32(file, 24), Le32(file, 28),
                              Le16(file, 32), Le16(file, 34), Le16(file, 36)),
              std::make_tuple(uint16_t(1), c.channels, uint32_t(c.rate), c.avg, c.align, c.bits,
                              uint16_t(0)));
    // The PCM format is not compared with the chosen row: the writer got row 30 anyway.
    EXPECT_EQ(Le32(file, 12), 44100u);
    DeleteFileA(path.c_str());
  }
}

TEST_F(WmaExport, RefusedFormatsShowTheirMessageAndGiveNoHandle) {
  MessageBoxWatcher watcher;
  const std::string path = TestFile("refused.wma");
  const std::string trace = TestFile("refused.trace");
  const std::string created = "CreateWriter 0x00000000";
  const std::string output = "SetOutputFormat 96000 44100 2 0";
  const std::string input = "SetInputFormat 1 2 44100 176400 4 16 0";
  struct Case {
    const char* variable;
    const char* value;
    const char* message;
    std::vector<std::string> calls;  // the writer is released whenever it was created
  };
  const Case cases[] = {
      {"VELL_WMA_REFUSE_OUTPUT", "1", "Cannot set output format", {created, output, "Release 0"}},
      {"VELL_WMA_REFUSE_INPUT", "1", "Cannot set input format", {created, output, input, "Release 0"}},
      {"VELL_WMA_FAIL_CREATE", "writer", nullptr, {"CreateWriter 0x80004005"}}};
  for (const Case& c : cases) {
    SdkSwitches fault{{c.variable, c.value}, {"VELL_WMA_TRACE", trace}};
    DeleteFileA(trace.c_str());
    const size_t before = watcher.Texts().size();
    long transfer = 777;
    EXPECT_EQ(plugin.openOutput(path.c_str(), 44100, 16, 2, 0, &transfer, 0), nullptr) << c.variable;
    EXPECT_EQ(transfer, 777);
    if (c.message) {
      ASSERT_TRUE(watcher.WaitFor(before + 1));
      EXPECT_EQ(watcher.Texts().back(), c.message);
    } else {
      Sleep(200);  // a message would have been seen by now
      EXPECT_EQ(watcher.Texts().size(), before);
    }
    EXPECT_EQ(TraceLines(trace), c.calls) << c.variable;
  }
  DeleteFileA(trace.c_str());
  DeleteFileA(path.c_str());
}

TEST_F(WmaExport, RefusedBlockGivesZeroAndTheWriterStaysOpen) {
  SdkSwitches fault{{"VELL_WMA_REFUSE_WRITE", "2"}};
  const std::string path = TestFile("write.wma");
  long transfer = 0;
  FilterHandle out = plugin.openOutput(path.c_str(), 44100, 16, 2, 0, &transfer, 0);
  ASSERT_NE(out, nullptr);
  const std::vector<uint8_t> pcm = Pattern(400);
  EXPECT_EQ(plugin.writeOutput(out, pcm.data(), 400), 400);
  EXPECT_EQ(plugin.writeOutput(out, pcm.data(), 400), 0);
  EXPECT_EQ(plugin.writeOutput(out, pcm.data(), 400), 400);
  EXPECT_EQ(plugin.writeOutput(out, pcm.data(), 0), 0);
  EXPECT_EQ(plugin.writeOutput(out, pcm.data(), -4), 0);
  plugin.closeOutput(out);
  EXPECT_EQ(plugin.writeOutput(nullptr, pcm.data(), 400), 0);
  plugin.closeOutput(nullptr);
  plugin.closeInput(nullptr);
  DeleteFileA(path.c_str());
}

// Names in the system's ANSI code page reach the SDK converted by it; names that do not
// fit 260 units are refused before the SDK sees them.
TEST_F(WmaExport, FileNamesAreConvertedWithTheAnsiCodePageOrRefused) {
  const std::string trace = TestFile("names.trace");
  SdkSwitches tracing{{"VELL_WMA_TRACE", trace}};
  const std::string name = TestFile("caf\xE9-\x80.wma");
  const std::vector<uint8_t> pcm = Pattern(1000);
  ASSERT_EQ(Export(name, 0, 44100, 16, 2, pcm).size(), 48 + pcm.size());
  WCHAR wide[MAX_PATH];
  ASSERT_GT(MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, wide, MAX_PATH), 0);
  EXPECT_NE(GetFileAttributesW(wide), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(plugin.understandsFormat(name.c_str()), 1);
  DeleteFileW(wide);

  DeleteFileA(trace.c_str());
  long transfer = 5;
  for (size_t length : {260u, 300u, 5000u}) {
    const std::string tooLong(length, 'n');
    EXPECT_EQ(plugin.openOutput(tooLong.c_str(), 44100, 16, 2, 0, &transfer, 0), nullptr);
    EXPECT_EQ(plugin.openInput(tooLong.c_str(), nullptr, nullptr, nullptr, 0, &transfer), nullptr);
    EXPECT_EQ(plugin.understandsFormat(tooLong.c_str()), 0);
  }
  EXPECT_EQ(plugin.openOutput(nullptr, 44100, 16, 2, 0, &transfer, 0), nullptr);
  EXPECT_EQ(plugin.understandsFormat(nullptr), 0);
  EXPECT_EQ(transfer, 5);
  EXPECT_TRUE(ReadWholeFile(trace).empty()) << "the SDK was called with a refused name";

  // 259 characters and the terminator fit: that name does reach the SDK.
  const std::string longest(259, 'n');
  EXPECT_EQ(plugin.understandsFormat(longest.c_str()), 0);
  EXPECT_FALSE(ReadWholeFile(trace).empty());
  DeleteFileA(trace.c_str());
}

}  // namespace
