// Helpers of the vell_vqf.flt tests, which drive the real exports under wine.
#pragma once

#include <gtest/gtest.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>

#include <string>
#include <vector>

#include "message_box_watcher.h"
#include "plugin_loader.h"

namespace vqftest {

// The exports of vell_vqf.flt from the program's directory.
inline LoadedPlugin& Plugin() {
  static LoadedPlugin plugin((ProgramDirectory() + "vell_vqf.flt").c_str());
  return plugin;
}

// Whether the encoder library is loaded in this process (the plug-in loads it by this name).
inline bool EncoderLoaded() { return GetModuleHandleA("TVQENC.DLL") != nullptr; }

// The environment's stage: the staged copies of this program run with VELL_VQF_STAGE set to
// "probe", "missing", "incomplete" or "fsize" beside the matching TVQENC.DLL.
inline std::string Stage() {
  const char* stage = getenv("VELL_VQF_STAGE");
  return stage ? stage : "";
}

#define REQUIRE_STAGE(name) \
  if (vqftest::Stage() != name) GTEST_SKIP() << "runs in the \"" name "\" stage only"

// A fresh current directory for the test (no header_info in it), restored afterwards.
// Message boxes are closed and recorded so a test fails instead of waiting for a person;
// unless expected, a message is a failure.
class ScratchDirectory {
 public:
  explicit ScratchDirectory(bool messagesExpected = false) : messagesExpected_(messagesExpected) {
    GetCurrentDirectoryA(MAX_PATH, previous_);
    const auto* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string dir = ProgramDirectory() + "vqf_scratch";
    CreateDirectoryA(dir.c_str(), nullptr);
    dir += "\\" + std::string(test->test_suite_name()) + "." + test->name() + "." + Stage();
    CreateDirectoryA(dir.c_str(), nullptr);
    SetCurrentDirectoryA(dir.c_str());
  }
  ~ScratchDirectory() {
    SetCurrentDirectoryA(previous_);
    if (!messagesExpected_) {
      EXPECT_EQ(watcher_.Texts(), std::vector<std::string>{}) << "unexpected message boxes";
    }
  }

  MessageBoxWatcher& Messages() { return watcher_; }

 private:
  bool messagesExpected_;
  char previous_[MAX_PATH];
  MessageBoxWatcher watcher_;
};

inline std::vector<uint8_t> ReadWholeFile(const char* path) {
  std::vector<uint8_t> bytes;
  if (FILE* f = fopen(path, "rb")) {
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    fclose(f);
  }
  return bytes;
}

inline bool FileExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

inline uint32_t BigEndian32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

// Interleaved 16-bit PCM of a deterministic test signal, sampleFrames x channels samples.
inline std::vector<uint8_t> TestSignal16(size_t sampleFrames, unsigned channels) {
  std::vector<uint8_t> pcm(sampleFrames * channels * 2);
  uint32_t state = 12345;
  for (size_t i = 0; i < sampleFrames * channels; ++i) {
    state = state * 1103515245u + 12345u;
    int16_t value = static_cast<int16_t>(((i / channels) % 200) * 300 - 30000 + (state >> 22));
    pcm[2 * i] = static_cast<uint8_t>(value);
    pcm[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(value) >> 8);
  }
  return pcm;
}

// Opens fileName, writes pcm in blocks of whole sample frames of at most blockBytes, and
// closes. False when the open fails or a write returns less than it was given.
inline bool ExportPcm(const char* fileName, long sampleRate, WORD bits, WORD channels, DWORD options,
                      const std::vector<uint8_t>& pcm, size_t blockBytes = 4096) {
  LoadedPlugin& p = Plugin();
  long transferSize = -7;
  FilterHandle out = p.openOutput(fileName, sampleRate, bits, channels, static_cast<long>(pcm.size()),
                                  &transferSize, options);
  if (!out) return false;
  EXPECT_EQ(transferSize, -7) << "the plug-in leaves transferSize alone";
  const size_t frameBytes = size_t(bits / 8) * channels;
  blockBytes -= blockBytes % frameBytes;
  bool complete = true;
  for (size_t at = 0; at < pcm.size(); at += blockBytes) {
    long n = static_cast<long>(std::min(blockBytes, pcm.size() - at));
    if (p.writeOutput(out, pcm.data() + at, n) != n) complete = false;
  }
  p.closeOutput(out);
  return complete;
}

}  // namespace vqftest
