// Cases that need a different TVQENC.DLL beside the program. CTest runs staged copies of
// this program: "probe" beside a library that records what the plug-in passes to the
// encoder, "missing" with no library, "incomplete" beside one that lacks TvqEncodeFrame,
// "planted" with a library in the current folder only, and "fsize" under a file-size limit. In the program's own directory they are skipped.
#include "tvqenc_probe.h"
#include "vqf_test_support.h"

using namespace vqftest;

namespace {

ProbeStats ReadProbe() {
  static ProbeStats stats;
  auto get = reinterpret_cast<ProbeGetStatsProc>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("TVQENC.DLL"), "ProbeGetStats")));
  EXPECT_NE(get, nullptr) << "the probe library is not loaded";
  if (get) get(&stats);
  return stats;
}

}  // namespace

// 8-bit bytes become u * 257 - 32768; 16-bit values pass unchanged; channels are planar.
TEST(VqfEncoderInput, SamplesReachTheEncoderOnTheSixteenBitScale) {
  REQUIRE_STAGE("probe");
  ScratchDirectory scratch;
  LoadedPlugin& p = Plugin();
  long transferSize = 0;

  FilterHandle mono8 = p.openOutput("eight.vqf", 8000, 8, 1, 0, &transferSize, 1);
  ASSERT_NE(mono8, nullptr);
  std::vector<uint8_t> bytes(512);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 5);
  bytes[0] = 0, bytes[1] = 128, bytes[2] = 255;
  ASSERT_EQ(p.writeOutput(mono8, bytes.data(), 512), 512);
  ProbeStats stats = ReadProbe();
  EXPECT_EQ(stats.lastTuning, 16);
  ASSERT_EQ(stats.encodeCalls, 1);
  ASSERT_EQ(stats.lastFrameSamples, 512);
  EXPECT_EQ(stats.lastFrame[0], -32768.0f);
  EXPECT_EQ(stats.lastFrame[1], 128.0f);
  EXPECT_EQ(stats.lastFrame[2], 32767.0f);
  for (size_t i = 3; i < bytes.size(); ++i) ASSERT_EQ(stats.lastFrame[i], bytes[i] * 257.0f - 32768.0f) << i;
  p.closeOutput(mono8);

  // Stereo 16-bit at 16 kHz: frames of 1024; left i - 512, right -32768 / 32767 extremes.
  FilterHandle stereo16 = p.openOutput("sixteen.vqf", 16000, 16, 2, 0, &transferSize, 3);
  ASSERT_NE(stereo16, nullptr);
  std::vector<int16_t> pcm(2 * 1024 + 2 * 100);
  for (size_t i = 0; i < pcm.size() / 2; ++i) {
    pcm[2 * i] = static_cast<int16_t>(i - 512);
    pcm[2 * i + 1] = i % 2 ? 32767 : -32768;
  }
  ASSERT_EQ(p.writeOutput(stereo16, pcm.data(), 2 * 1024), 2 * 1024);  // half a frame
  ASSERT_EQ(p.writeOutput(stereo16, pcm.data() + 1024, 2 * 1224), 2 * 1224);
  stats = ReadProbe();
  ASSERT_EQ(stats.encodeCalls, 1) << "one full frame so far";
  ASSERT_EQ(stats.lastFrameSamples, 2048);
  for (int i = 0; i < 1024; ++i) {
    ASSERT_EQ(stats.lastFrame[i], float(i - 512)) << i;
    ASSERT_EQ(stats.lastFrame[1024 + i], i % 2 ? 32767.0f : -32768.0f) << i;
  }
  p.closeOutput(stereo16);
  EXPECT_FALSE(EncoderLoaded());
}

// A failed open after TvqEncInitialize ends the encoding it began, and the library is
// unloaded again; the probe writes its counts when it is unloaded.
TEST(VqfEncoderInput, FailedOpenTerminatesWhatItInitialised) {
  REQUIRE_STAGE("probe");
  ScratchDirectory scratch;
  char report[MAX_PATH];
  GetFullPathNameA("probe-report.txt", MAX_PATH, report, nullptr);
  DeleteFileA(report);
  SetEnvironmentVariableA("VELL_PROBE_REPORT", report);
  long transferSize = 0;
  EXPECT_EQ(Plugin().openOutput("no such dir\\x.vqf", 8000, 16, 1, 0, &transferSize, 1), nullptr);
  EXPECT_FALSE(EncoderLoaded());
  ASSERT_TRUE(ExportPcm("whole.vqf", 8000, 16, 1, 1, TestSignal16(700, 1)));
  SetEnvironmentVariableA("VELL_PROBE_REPORT", nullptr);
  std::vector<uint8_t> text = ReadWholeFile(report);
  std::string lines(text.begin(), text.end());
  EXPECT_NE(lines.find("initialize=1 terminate=1 frames=0 "), std::string::npos) << lines;
  EXPECT_NE(lines.find("initialize=1 terminate=1 frames=4 "), std::string::npos) << lines;
}

// The calls into the library in order, with their fixed arguments, as the probe traced
// them: the open's five calls, one frame per 512 samples (1100 give 3) and two silent
// ones, the layout update right after every long-block frame into that stream's own
// layout records, and the terminate last.
TEST(VqfEncoderInput, LibraryCallsComeInOrderWithTheirFixedArguments) {
  REQUIRE_STAGE("probe");
  ScratchDirectory scratch;
  char trace[MAX_PATH];
  GetFullPathNameA("probe-trace.txt", MAX_PATH, trace, nullptr);
  SetEnvironmentVariableA("VELL_PROBE_TRACE", trace);
  ASSERT_TRUE(ExportPcm("traced.vqf", 8000, 16, 1, 1, TestSignal16(1100, 1)));
  SetEnvironmentVariableA("VELL_PROBE_TRACE", nullptr);
  std::vector<uint8_t> text = ReadWholeFile(trace);
  std::vector<std::string> lines;
  std::string line;
  for (uint8_t c : text) {
    if (c != '\n') line += static_cast<char>(c);
    else lines.push_back(line), line.clear();
  }
  const std::vector<std::string> open = {
      "TvqGetVersionID 0", "TvqEncInitialize mode 0/8/8 tuning 16 flags 1", "TvqEncGetConfInfo",
      "TvqEncGetVectorInfo", "TvqEncGetFrameSize"};
  ASSERT_GE(lines.size(), open.size() + 6) << std::string(text.begin(), text.end());
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 5), open);
  int frames = 0, updates = 0;
  for (size_t i = 5; i + 1 < lines.size(); ++i) {
    ASSERT_EQ(lines[i].rfind("TvqEncodeFrame block type ", 0), 0u) << "line " << i << ": " << lines[i];
    ++frames;
    if (lines[i] == "TvqEncodeFrame block type 2") {
      EXPECT_EQ(lines[++i], "TvqEncUpdateVectorInfo 0 own layout") << "line " << i;
      ++updates;
    }
  }
  EXPECT_EQ(frames, 3 + 2);
  EXPECT_GT(updates, 0) << "no long-block frame: the update's arguments went unchecked";
  EXPECT_EQ(lines.back(), "TvqEncTerminate");
}

// Without a usable library the open shows the message and fails, and the next open tries
// again from scratch (the count was given back). A library in the current folder (where
// the user last opened a file) is never loaded.
TEST(VqfLibrary, MissingOrIncompleteLibraryIsReportedToTheUser) {
  if (Stage() != "missing" && Stage() != "incomplete" && Stage() != "planted") GTEST_SKIP() << "staged cases only";
  ScratchDirectory scratch(/*messagesExpected=*/true);
  struct Planted {
    Planted() {
      DeleteFileA("none.vqf");  // a failed earlier run's, in the reused scratch folder
      const char* from = getenv("VELL_VQF_PLANTED");
      if (Stage() == "planted") EXPECT_TRUE(from && CopyFileA(from, "TVQENC.DLL", FALSE)) << (from ? from : "");
    }
    ~Planted() { DeleteFileA("TVQENC.DLL"); }
  } planted;
  MessageBoxWatcher& watcher = scratch.Messages();
  long transferSize = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(Plugin().openOutput("none.vqf", 44100, 16, 2, 0, &transferSize, 0), nullptr);
    EXPECT_FALSE(FileExists("none.vqf"));
    EXPECT_FALSE(EncoderLoaded());
  }
  ASSERT_TRUE(watcher.WaitFor(2));
  EXPECT_EQ(watcher.Texts(), (std::vector<std::string>{"Unable to load tvqenc.dll", "Unable to load tvqenc.dll"}));
}

// Under a file-size limit the writes that can no longer reach the file return 0, so the
// host learns the export failed; the close still frees everything.
TEST(VqfWriteFailure, WritesReportAFileThatCouldNotBeWritten) {
  REQUIRE_STAGE("fsize");
  ScratchDirectory scratch;
  LoadedPlugin& p = Plugin();
  long transferSize = 0;
  FilterHandle out = p.openOutput("full.vqf", 44100, 16, 2, 0, &transferSize, 8);
  ASSERT_NE(out, nullptr);
  std::vector<uint8_t> pcm = TestSignal16(4096, 2);  // 16 KiB, about 2.2 KiB of frames
  long firstFailure = -1;
  for (long block = 0; block < 400; ++block) {
    long n = p.writeOutput(out, pcm.data(), static_cast<long>(pcm.size()));
    if (n == 0 && firstFailure < 0) firstFailure = block;
    if (firstFailure >= 0) EXPECT_EQ(n, 0) << "block " << block << " after a failed write";
    else EXPECT_EQ(n, static_cast<long>(pcm.size()));
  }
  EXPECT_GT(firstFailure, 0) << "the limit allows a few blocks, then every write fails";
  p.closeOutput(out);
  EXPECT_FALSE(EncoderLoaded());
}
