// Helpers of the WMA plug-in's wine tests: the plug-in loaded as the host loads it, the
// stand-in SDK's switches, and files in the stand-in's container.
#pragma once

#include "plugin_loader.h"
#include "thread_stagger.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

inline std::string PluginPath() { return ProgramDirectory() + "vell_wma.flt"; }

// Sets stand-in switches for the scope; every switch is cleared on entry and exit, so a
// test sees only its own. The SDK reads them at each creation call.
class SdkSwitches {
 public:
  SdkSwitches(std::initializer_list<std::pair<const char*, std::string>> values = {}) {
    ClearAll();
    for (const auto& v : values) SetEnvironmentVariableA(v.first, v.second.c_str());
  }
  ~SdkSwitches() { ClearAll(); }
  SdkSwitches(const SdkSwitches&) = delete;
  SdkSwitches& operator=(const SdkSwitches&) = delete;

 private:
  static void ClearAll() {
    for (const char* name :
         {"VELL_WMA_FAIL_CREATE", "VELL_WMA_REFUSE_OUTPUT", "VELL_WMA_REFUSE_INPUT",
          "VELL_WMA_REFUSE_WRITE", "VELL_WMA_BLOCK", "VELL_WMA_BLOCK_GROW", "VELL_WMA_STATUS",
          "VELL_WMA_SILENT_AFTER", "VELL_WMA_EXTRA_REF_MS", "VELL_WMA_TRACE"})
      SetEnvironmentVariableA(name, nullptr);
  }
};

// A file name in the test programs' directory, unique to this process.
inline std::string TestFile(const std::string& name) {
  return ProgramDirectory() + "wma-test-" + std::to_string(GetCurrentProcessId()) + "-" + name;
}

inline uint32_t Le32(const std::vector<uint8_t>& bytes, size_t offset) {
  uint32_t v;
  std::memcpy(&v, bytes.data() + offset, 4);
  return v;
}
inline uint16_t Le16(const std::vector<uint8_t>& bytes, size_t offset) {
  uint16_t v;
  std::memcpy(&v, bytes.data() + offset, 2);
  return v;
}

inline std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  bytes.resize(GetFileSize(file, nullptr));
  DWORD got = 0;
  if (!bytes.empty()) ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
  bytes.resize(got);
  CloseHandle(file);
  return bytes;
}

inline void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD put = 0;
  if (file == INVALID_HANDLE_VALUE) return;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
  CloseHandle(file);
}

// A finished file of the stand-in's container: 48-byte header, then the PCM as it is.
struct StreamFormat {
  uint32_t bitRate = 96000;
  uint32_t sampleRate = 44100;
  uint16_t channels = 2;
  uint16_t bitsPerSample = 16;
  uint32_t durationMs = 0;  // as stored; the reader reports it as "Duration"
};

inline void Put32(std::vector<uint8_t>& bytes, size_t offset, uint32_t v) {
  std::memcpy(bytes.data() + offset, &v, 4);
}
inline void Put16(std::vector<uint8_t>& bytes, size_t offset, uint16_t v) {
  std::memcpy(bytes.data() + offset, &v, 2);
}

inline void WriteContainer(const std::string& path, const StreamFormat& stream,
                           const std::vector<uint8_t>& pcm) {
  std::vector<uint8_t> bytes(48);
  std::memcpy(bytes.data(), "VWMA", 4);
  Put32(bytes, 4, 48);
  Put32(bytes, 8, stream.bitRate);
  Put32(bytes, 12, stream.sampleRate);
  Put32(bytes, 16, stream.channels);
  const uint16_t align = static_cast<uint16_t>(stream.bitsPerSample / 8 * stream.channels);
  Put16(bytes, 20, 1);
  Put16(bytes, 22, stream.channels);
  Put32(bytes, 24, stream.sampleRate);
  Put32(bytes, 28, align * stream.sampleRate);
  Put16(bytes, 32, align);
  Put16(bytes, 34, stream.bitsPerSample);
  Put16(bytes, 36, 0);
  Put32(bytes, 40, static_cast<uint32_t>(pcm.size()));
  Put32(bytes, 44, stream.durationMs);
  bytes.insert(bytes.end(), pcm.begin(), pcm.end());
  WriteWholeFile(path, bytes);
}

// The lines of a stand-in SDK's call trace (VELL_WMA_TRACE); none when there is no file.
inline std::vector<std::string> TraceLines(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadWholeFile(path);
  std::vector<std::string> lines;
  std::string line;
  for (uint8_t byte : bytes) {
    if (byte == '\n') {
      lines.push_back(line);
      line.clear();
    } else if (byte != '\r') {
      line += static_cast<char>(byte);
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

// Bytes that reveal any loss, repetition or reordering: a counter mixed with its position.
inline std::vector<uint8_t> Pattern(size_t n, uint32_t seed = 1) {
  std::vector<uint8_t> bytes(n);
  uint32_t x = seed * 2654435761u;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    bytes[i] = static_cast<uint8_t>((x >> 16) ^ i);
  }
  return bytes;
}

// Handles open in this process. Wine does not count them for GetProcessHandleCount, so
// the handle table is probed instead (handle values are multiples of 4).
inline DWORD OpenHandleCount() {
  DWORD count = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0) return count;
  DWORD flags = 0;
  for (uintptr_t value = 4; value < 0x4000; value += 4)
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
  return count;
}

// Runs fn on a thread of its own and waits up to ms for it. A test that would hang the
// host fails instead; the stuck thread is left behind, so the process ends right away.
template <class Fn>
bool FinishesWithin(DWORD ms, Fn fn) {
  struct Job { Fn fn; static DWORD WINAPI Run(void* self) { static_cast<Job*>(self)->fn(); return 0; } };
  auto* job = new Job{fn};
  StaggerThreadStart();  // the reader's thread may have started just now
  HANDLE thread = CreateThread(nullptr, 0, &Job::Run, job, 0, nullptr);
  if (!thread) return false;
  const bool done = WaitForSingleObject(thread, ms) == WAIT_OBJECT_0;
  CloseHandle(thread);
  if (!done) {
    fprintf(stderr, "a plug-in call did not return within %lu ms\n", static_cast<unsigned long>(ms));
    fflush(stderr);
    ExitProcess(3);
  }
  delete job;
  return done;
}

// Reads an open input to its end in host blocks of the given sizes (used in turn),
// with a read of 0 bytes before every other block.
inline std::vector<uint8_t> ReadAll(const LoadedPlugin& plugin, FilterHandle in,
                                    const std::vector<long>& blockSizes) {
  std::vector<uint8_t> all;
  for (size_t i = 0;; ++i) {
    const long want = blockSizes[i % blockSizes.size()];
    if (i % 2 == 1) {
      EXPECT_EQ(plugin.readInput(in, all.data(), 0), 0);
    }
    std::vector<uint8_t> block(static_cast<size_t>(want) + 16, 0xEE);
    const long got = plugin.readInput(in, block.data(), want);
    EXPECT_GE(got, 0);
    EXPECT_LE(got, want);
    EXPECT_EQ(block[static_cast<size_t>(want)], 0xEE) << "written past the count asked for";
    all.insert(all.end(), block.begin(), block.begin() + got);
    if (got < want) break;
  }
  return all;
}
