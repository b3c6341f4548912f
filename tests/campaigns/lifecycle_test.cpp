// Closing inputs and outputs at every point of their life, and many contexts at once.
#include "campaign_env.h"

#include <memory>

using namespace campaign;

namespace {

FilterHandle OpenOutput(LoadedPlugin& p, const std::string& plugin, const std::string& path) {
  const ExportFormat f = FormatFor(plugin);
  long transfer = 0;
  return p.openOutput(path.c_str(), f.sampleRate, f.bits, f.channels, 0, &transfer, f.options);
}

FilterHandle OpenInput(LoadedPlugin& p, const std::string& path) {
  long rate = 0, transfer = 0;
  WORD bits = 0, channels = 0;
  return p.openInput(path.c_str(), &rate, &bits, &channels, 0, &transfer);
}

}  // namespace

// An export closed after any number of blocks is a complete file of exactly those blocks.
TEST(Lifecycle, OutputsClosedAfterAnyNumberOfBlocksHoldExactlyThoseBlocks) {
  for (const char* plugin : {"aud", "vqf", "wma"}) {
    SCOPED_TRACE(plugin);
    LoadedPlugin& p = Plugin(plugin);
    const Bytes pcm = Signal(6 * 2048, FormatFor(plugin).channels);
    const size_t block = pcm.size() / 6;
    size_t lastSize = 0;
    for (size_t blocks = 0; blocks <= 6; ++blocks) {
      const std::string path = WorkFile("closed_after_" + std::to_string(blocks) + "." + plugin);
      FilterHandle h = OpenOutput(p, plugin, path);
      ASSERT_NE(h, nullptr);
      for (size_t i = 0; i < blocks; ++i)
        ASSERT_EQ(p.writeOutput(h, pcm.data() + i * block, static_cast<long>(block)), static_cast<long>(block));
      p.closeOutput(h);
      const size_t size = Load(path).size();
      EXPECT_GE(size, lastSize);
      lastSize = size;
      if (!p.openInput) continue;
      Bytes back;
      ASSERT_TRUE(Import(p, path, 30720, back));
      EXPECT_EQ(back.size(), blocks * block);
    }
    EXPECT_FALSE(EncoderLibraryLoaded());
  }
}

// An import closed at any point: after the open, inside a block, at a block's end, at the
// end of the data and after it.
TEST(Lifecycle, InputsClosedAtAnyPointEndCleanly) {
  SdkSwitches sdk({{"VELL_WMA_BLOCK", "1000"}});
  for (const char* plugin : {"aud", "wma"}) {
    SCOPED_TRACE(plugin);
    LoadedPlugin& p = Plugin(plugin);
    const std::string path = WorkFile(std::string("close_points.") + plugin);
    const Bytes pcm = Signal(3000, FormatFor(plugin).channels);
    ASSERT_TRUE(Export(p, plugin, path, pcm, 4096).ReportedComplete());
    for (long stopAt : {0L, 1L, 2L, 500L, 1000L, 1002L, 2048L, 5000L, static_cast<long>(pcm.size()),
                        static_cast<long>(pcm.size()) + 4}) {
      FilterHandle h = OpenInput(p, path);
      ASSERT_NE(h, nullptr);
      Bytes buffer(static_cast<size_t>(stopAt) + 1);
      long got = 0;
      while (got < stopAt) {
        const long n = p.readInput(h, buffer.data() + got, std::min(stopAt - got, 700L) & ~1L);
        if (n <= 0) break;
        got += n;
      }
      p.closeInput(h);
      EXPECT_EQ(got, std::min<long>(stopAt & ~1L, static_cast<long>(pcm.size())));
    }
    // Open and close with nothing between, many times in a row.
    for (int i = 0; i < 20; ++i) p.closeInput(OpenInput(p, path));
  }
}

TEST(Lifecycle, ManyAudAndWmaContextsAtOnce) {
  for (const char* plugin : {"aud", "wma"}) {
    SCOPED_TRACE(plugin);
    LoadedPlugin& p = Plugin(plugin);
    const int count = std::string(plugin) == "aud" ? 200 : 24;
    const Bytes pcm = Signal(2500, FormatFor(plugin).channels);
    std::vector<FilterHandle> outputs;
    for (int i = 0; i < count; ++i) {
      outputs.push_back(OpenOutput(p, plugin, WorkFile("many_" + std::to_string(i) + "." + plugin)));
      ASSERT_NE(outputs.back(), nullptr) << i;
    }
    for (size_t at = 0; at < pcm.size(); at += 1000)  // interleaved writes
      for (FilterHandle h : outputs) {
        const long n = static_cast<long>(std::min<size_t>(1000, pcm.size() - at));
        ASSERT_EQ(p.writeOutput(h, pcm.data() + at, n), n);
      }
    for (FilterHandle h : outputs) p.closeOutput(h);

    std::vector<FilterHandle> inputs;
    for (int i = 0; i < count; ++i) {
      inputs.push_back(OpenInput(p, WorkFile("many_" + std::to_string(i) + "." + plugin)));
      ASSERT_NE(inputs.back(), nullptr) << i;
    }
    std::vector<Bytes> back(inputs.size());
    Bytes buffer(1500);
    for (bool more = true; more;) {  // interleaved reads until every input is drained
      more = false;
      for (size_t i = 0; i < inputs.size(); ++i) {
        const long n = p.readInput(inputs[i], buffer.data(), 1500);
        back[i].insert(back[i].end(), buffer.begin(), buffer.begin() + std::max(0L, n));
        more |= n == 1500;
      }
    }
    for (FilterHandle h : inputs) p.closeInput(h);
    for (const Bytes& b : back) EXPECT_EQ(b.size(), pcm.size());
    if (std::string(plugin) == "wma") {
      for (const Bytes& b : back) EXPECT_EQ(b, pcm);
    }
  }
}

// More outputs than the 50 bit-file slots: the surplus opens give a null handle, the host's
// process goes on, a freed slot is used again, and every opened file is complete.
TEST(Lifecycle, MoreThanFiftyVqfOutputsAtOnce) {
  LoadedPlugin& p = Plugin("vqf");
  const Bytes pcm = Signal(2048, 1);
  std::vector<FilterHandle> outputs;
  int refused = 0;
  for (int i = 0; i < 60; ++i) {
    FilterHandle h = OpenOutput(p, "vqf", WorkFile("slot_" + std::to_string(i) + ".vqf"));
    if (h) outputs.push_back(h);
    else ++refused;
  }
  EXPECT_EQ(outputs.size(), 50u);
  EXPECT_EQ(refused, 10);
  for (FilterHandle h : outputs) ASSERT_EQ(p.writeOutput(h, pcm.data(), 4096), 4096);
  p.closeOutput(outputs.back());
  outputs.back() = OpenOutput(p, "vqf", WorkFile("slot_again.vqf"));
  ASSERT_NE(outputs.back(), nullptr) << "a freed slot is not used again";
  ASSERT_EQ(p.writeOutput(outputs.back(), pcm.data(), 4096), 4096);
  for (FilterHandle h : outputs) p.closeOutput(h);
  EXPECT_FALSE(EncoderLibraryLoaded());
  const Bytes reference = Load(WorkFile("slot_0.vqf"));
  EXPECT_GT(reference.size(), 44u);
  for (int i = 1; i < 49; ++i) EXPECT_EQ(Load(WorkFile("slot_" + std::to_string(i) + ".vqf")), reference) << i;
  EXPECT_EQ(Load(WorkFile("slot_again.vqf")), reference);
}

// Modes the encoder refuses and sample types the plug-ins refuse leave nothing behind.
TEST(Lifecycle, RefusedOpensLeaveNoFileAndNoLibrary) {
  struct Case { const char* plugin; long rate; WORD bits; WORD channels; DWORD options; };
  const Case cases[] = {{"aud", 44100, 16, 1, 0}, {"aud", 22050, 8, 1, 0}, {"aud", 22050, 16, 2, 0},
                        {"vqf", 44100, 16, 2, 1}, {"vqf", 48000, 16, 2, 8}, {"vqf", 22050, 24, 1, 4},
                        {"vqf", 22050, 16, 3, 4}, {"vqf", 0, 16, 1, 4},     {"vqf", -1, 16, 1, 4},
                        {"wma", 22050, 16, 2, 35}};
  for (const Case& c : cases) {
    LoadedPlugin& p = Plugin(c.plugin);
    const std::string path = WorkFile(std::string("refused.") + c.plugin);
    long transfer = -7;
    FilterHandle h = p.openOutput(path.c_str(), c.rate, c.bits, c.channels, 0, &transfer, c.options);
    if (std::string(c.plugin) == "wma") {  // options above 34 export with the default row
      EXPECT_NE(h, nullptr);
      p.closeOutput(h);
      continue;
    }
    EXPECT_EQ(h, nullptr) << c.plugin << " " << c.rate << " " << c.bits << " " << c.channels;
    EXPECT_FALSE(Exists(path)) << c.plugin << " " << c.rate;
    EXPECT_EQ(transfer, -7);
    EXPECT_FALSE(EncoderLibraryLoaded());
  }
  // Null and empty arguments.
  for (const char* plugin : {"aud", "vqf", "wma"}) {
    LoadedPlugin& p = Plugin(plugin);
    long transfer = 0;
    const ExportFormat f = FormatFor(plugin);
    EXPECT_EQ(p.openOutput(nullptr, f.sampleRate, f.bits, f.channels, 0, &transfer, f.options), nullptr) << plugin;
    EXPECT_EQ(p.openOutput("", f.sampleRate, f.bits, f.channels, 0, &transfer, f.options), nullptr) << plugin;
    EXPECT_EQ(p.writeOutput(nullptr, "x", 1), 0) << plugin;
    p.closeOutput(nullptr);
    FilterHandle h = OpenOutput(p, plugin, WorkFile(std::string("null_data.") + plugin));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(p.writeOutput(h, nullptr, 100), 0) << plugin;
    EXPECT_EQ(p.writeOutput(h, "ab", 0), 0) << plugin;
    EXPECT_EQ(p.writeOutput(h, "ab", -5), 0) << plugin;
    p.closeOutput(h);
    if (!p.openInput) continue;
    EXPECT_EQ(p.readInput(nullptr, &transfer, 4), 0) << plugin;
    p.closeInput(nullptr);
    EXPECT_EQ(p.getFileSize(nullptr), 0) << plugin;
  }
  EXPECT_FALSE(EncoderLibraryLoaded());
}

// Stream fields a file may carry, however large: the byte count the host is told is never
// negative.
TEST(Lifecycle, WmaFileSizeIsNeverNegative) {
  LoadedPlugin& p = Plugin("wma");
  const std::string path = WorkFile("durations.wma");
  struct Case { uint32_t duration; uint16_t channels; uint32_t rate; };
  for (const Case& c : {Case{0, 2, 44100}, Case{1000, 2, 44100}, Case{12000000, 2, 48000}, Case{0x7FFFFFFE, 2, 44100},
                        Case{0x7FFFFFFF, 2, 44100}, Case{0xFFFFFFFE, 2, 44100}, Case{0xFFFFFFFF, 2, 44100},
                        Case{1000, 0xFFFF, 0xFFFFFFFF}, Case{1000, 2, 0x80000000u}}) {
    StreamFormat stream;
    stream.sampleRate = c.rate;
    stream.channels = c.channels;
    stream.durationMs = c.duration;
    WriteContainer(path, stream, {});
    long rate = 0, transfer = 0;
    WORD bits = 0, channels = 0;
    FilterHandle h = p.openInput(path.c_str(), &rate, &bits, &channels, 0, &transfer);
    if (!h) continue;  // the SDK may refuse such a stream
    const long size = p.getFileSize(h);
    printf("[ outcome  ] duration %lu ms, %u channels, %lu Hz: file size %ld\n", static_cast<unsigned long>(c.duration),
           c.channels, static_cast<unsigned long>(c.rate), size);
    EXPECT_GE(size, 0) << c.duration << " " << c.channels << " " << c.rate;
    p.closeInput(h);
  }
}
