// Finding and binding TVQENC.DLL under Windows. Built twice: beside the stand-in in the
// program directory, and one directory further away where no TVQENC.DLL lies beside it
// (TVQENC_BINDING_FAR). The system's search (PATH) is given one chosen variant directory
// in front, so each test knows which copy each way of searching would find.
#define _WIN32_WINNT 0x0A00
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "bit_file.h"
#include "encoder_library.h"
#include "frame_writer.h"
#include "test_files.h"

namespace {

std::string ProgramDirectory() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string text(path, length);
  return text.substr(0, text.find_last_of('\\') + 1);
}

#ifdef TVQENC_BINDING_FAR
const std::string kVariants = ProgramDirectory();
#else
const std::string kVariants = ProgramDirectory() + "tvqenc_variants\\";
#endif
const std::string kAltVersion = kVariants + "alt_version";
const std::string kMissingEntry = kVariants + "missing_entry";

// Puts the given directory first in PATH, the last place the plug-in looks, for the
// test's duration.
class DefaultSearch {
 public:
  explicit DefaultSearch(const std::string& directory) {
    char old[32768];
    const DWORD length = GetEnvironmentVariableA("PATH", old, sizeof old);
    saved_ = length < sizeof old ? std::string(old, length) : std::string();
    if (!directory.empty()) SetEnvironmentVariableA("PATH", (directory + ";" + saved_).c_str());
  }
  ~DefaultSearch() { SetEnvironmentVariableA("PATH", saved_.c_str()); }

 private:
  std::string saved_;
};

std::string BoundVersion() {
  char version[20] = {};
  encoderEntryPoints.TvqGetVersionID(0, version);
  return version;
}

bool AnythingLoaded() { return GetModuleHandleA("TVQENC.DLL") != nullptr; }

class Binding : public testing::Test {
 protected:
  void TearDown() override {
    UnloadEncoderLibrary();
    EXPECT_FALSE(AnythingLoaded());
  }
};

}  // namespace

#ifndef TVQENC_BINDING_FAR

TEST_F(Binding, TheLibraryBesideTheProgramComesBeforeTheDefaultSearch) {
  DefaultSearch search(kAltVersion);
  // PATH's first folder holds a library of another version.
  HMODULE direct = LoadLibraryA((kAltVersion + "\\TVQENC.DLL").c_str());
  ASSERT_NE(direct, nullptr);
  auto version = reinterpret_cast<TvqGetVersionIDProc>(
      reinterpret_cast<void*>(GetProcAddress(direct, "TvqGetVersionID")));
  char text[20] = {};
  version(0, text);
  EXPECT_STREQ(text, "TWIN97019999");
  FreeLibrary(direct);
  ASSERT_FALSE(AnythingLoaded());

  ASSERT_EQ(LoadEncoderLibrary(nullptr), 1);
  EXPECT_EQ(BoundVersion(), "TWIN97012000");
}

TEST_F(Binding, TheLibraryBesideTheGivenModuleComesFirst) {
  DefaultSearch search("");
  HMODULE module = LoadLibraryA((kAltVersion + "\\TVQENC.DLL").c_str());
  ASSERT_NE(module, nullptr);
  ASSERT_EQ(LoadEncoderLibrary(module), 1);
  EXPECT_EQ(BoundVersion(), "TWIN97019999");
  UnloadEncoderLibrary();
  FreeLibrary(module);
}

TEST_F(Binding, ASecondLoadNeitherLoadsNorBindsAgain) {
  DefaultSearch search("");
  ASSERT_EQ(LoadEncoderLibrary(nullptr), 1);
  void* handle = EncoderLibraryHandle();
  const TvqEncodeFrameProc sentinel = [](const float*, FrameIndex*) TVQ_API -> int32_t { return 7; };
  encoderEntryPoints.TvqEncodeFrame = sentinel;
  EXPECT_EQ(LoadEncoderLibrary(nullptr), 1);
  EXPECT_EQ(EncoderLibraryHandle(), handle);
  EXPECT_EQ(encoderEntryPoints.TvqEncodeFrame, sentinel);
  // Loaded once: one unload frees it (the fixture checks).
}

TEST_F(Binding, FramesEncodedThroughTheLoadedLibraryHaveTheFrameLength) {
  DefaultSearch search("");
  ASSERT_EQ(LoadEncoderLibrary(nullptr), 1);
  HeaderInfo header{};
  EncoderTuning tuning{16};
  FrameIndex index{};
  header.channelMode = 1;
  header.bitRate = 96;
  header.samplingRate = 44;
  ASSERT_EQ(encoderEntryPoints.TvqEncInitialize(&header, &tuning, &index, 1), 0);
  ScratchDirectory dir("tvqenc_binding_frames");
  BitFile* file = OpenBitFile("frames", "wb");
  FrameLayout layout{};
  FetchFrameLayout(&layout);
  ASSERT_EQ(encoderEntryPoints.TvqEncGetFrameSize(), 2048);
  std::vector<float> samples(2 * 2048);
  for (int frame = 0; frame < 3; ++frame) {
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = frame * 9000.0f * ((i / 7) % 2 ? 1 : -1);
    encoderEntryPoints.TvqEncodeFrame(samples.data(), &index);
    WriteFrameRecord(&index, &layout, file);
  }
  EXPECT_TRUE(CloseBitFile(file));
  EXPECT_EQ(ReadFileBytes("frames").size(), (3u * 4458u + 7u) / 8u);
  EXPECT_EQ(encoderEntryPoints.TvqEncTerminate(&index), 0);
}

#else  // no TVQENC.DLL beside this program

TEST_F(Binding, TheDefaultSearchIsTheLastResort) {
  DefaultSearch search(kAltVersion);
  ASSERT_EQ(LoadEncoderLibrary(nullptr), 1);
  EXPECT_EQ(BoundVersion(), "TWIN97019999");
}

TEST_F(Binding, ALibraryWithoutAnEntryPointLeavesNothingLoaded) {
  {
    DefaultSearch search(kMissingEntry);
    EXPECT_EQ(LoadEncoderLibrary(nullptr), 0);
    EXPECT_EQ(EncoderLibraryHandle(), nullptr);
    EXPECT_FALSE(AnythingLoaded());
    EXPECT_EQ(encoderEntryPoints.TvqGetVersionID, nullptr);
    EXPECT_EQ(encoderEntryPoints.TvqEncodeFrame, nullptr);
  }
  // The next attempt starts from scratch.
  DefaultSearch search(kAltVersion);
  EXPECT_EQ(LoadEncoderLibrary(nullptr), 1);
}

TEST_F(Binding, NoLibraryAnywhere) {
  DefaultSearch search("");
  EXPECT_EQ(LoadEncoderLibrary(nullptr), 0);
  EXPECT_EQ(EncoderLibraryHandle(), nullptr);
}

#endif
