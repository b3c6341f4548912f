// Helpers for the stand-in's tests: scratch files, environment switches, a recording
// callback object, and a writer that makes finished files.
#pragma once

#include "wmaudsdk_api.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vwma_test {

// A file in the working directory, named after the running test, deleted at the end.
class ScratchFile {
 public:
  explicit ScratchFile(const char* suffix = "");
  ~ScratchFile() { DeleteFileA(path_.c_str()); }
  const char* path() const { return path_.c_str(); }
  const WCHAR* wide() const { return wide_.c_str(); }
  std::vector<uint8_t> Bytes() const;
  void Store(const std::vector<uint8_t>& bytes) const;

 private:
  std::string path_;
  std::wstring wide_;
};

// Sets one switch for the lifetime of the object.
class ScopedSwitch {
 public:
  ScopedSwitch(const char* name, const char* value) : name_(name) {
    SetEnvironmentVariableA(name, value);
  }
  ~ScopedSwitch() { SetEnvironmentVariableA(name_, nullptr); }

 private:
  const char* name_;
};

WAVEFORMATEX Pcm(WORD channels, DWORD rate, WORD bits);

// Bytes 0, 1, 2, ... modulo 251, so that misplaced blocks show.
std::vector<uint8_t> Pattern(std::size_t n);

// Writes a finished file: 96 kbit/s 44100 Hz stereo, 16-bit stereo 44100 Hz PCM, in
// writes of at most 'chunk' bytes.
void WriteFinished(const ScratchFile& file, const std::vector<uint8_t>& pcm,
                   std::size_t chunk = 65536);

// The callback object handed to the reader: records every call in order.
struct RecordingCallback : WmaReaderCallback {
  RecordingCallback();
  ~RecordingCallback();

  volatile LONG refs = 1;
  std::vector<std::string> calls;  // "sample <n>" and "status <s>", in order
  std::vector<uint8_t> data;       // the PCM of every block, concatenated
  HANDLE ended;                    // set at status 3
  HANDLE entered;                  // set when OnSample is entered
  HANDLE gate = nullptr;           // when set, OnSample waits for it (like the plug-in's pacing)

  LONG Refs() const { return InterlockedCompareExchange(const_cast<LONG*>(&refs), 0, 0); }
  bool WaitEnded(DWORD ms = 10000) const { return WaitForSingleObject(ended, ms) == WAIT_OBJECT_0; }
};

std::vector<std::string> Samples(std::initializer_list<DWORD> sizes);

}  // namespace vwma_test
