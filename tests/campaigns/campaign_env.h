// Per-process scratch directory, stand-in SDK switches and resource counts for the
// campaign tests.
#pragma once

#include "campaign_support.h"
#include "message_box_watcher.h"

#include <gtest/gtest.h>
#include <psapi.h>

#include <initializer_list>
#include <utility>

namespace campaign {

// A fresh directory per test program run, under the temporary directory.
inline const std::string& WorkDirectory() {
  static const std::string dir = [] {
    std::string d = TempDirectory() + "vell_campaign_" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(d.c_str(), nullptr);
    return d;
  }();
  return dir;
}
inline std::string WorkFile(const std::string& name) { return WorkDirectory() + name; }

// The stand-in SDK's switches for a scope; all of them cleared on entry and exit.
class SdkSwitches {
 public:
  SdkSwitches(std::initializer_list<std::pair<const char*, std::string>> values = {}) {
    Clear();
    for (const auto& v : values) SetEnvironmentVariableA(v.first, v.second.c_str());
  }
  ~SdkSwitches() { Clear(); }
  SdkSwitches(const SdkSwitches&) = delete;
  SdkSwitches& operator=(const SdkSwitches&) = delete;

 private:
  static void Clear() {
    for (const char* name : {"VELL_WMA_FAIL_CREATE", "VELL_WMA_REFUSE_OUTPUT", "VELL_WMA_REFUSE_INPUT",
                             "VELL_WMA_REFUSE_WRITE", "VELL_WMA_BLOCK", "VELL_WMA_BLOCK_GROW",
                             "VELL_WMA_STATUS", "VELL_WMA_SILENT_AFTER", "VELL_WMA_EXTRA_REF_MS"})
      SetEnvironmentVariableA(name, nullptr);
  }
};

// The one message-box watcher of the program (its thread runs for the whole run).
inline MessageBoxWatcher& Watcher() {
  static MessageBoxWatcher watcher;
  return watcher;
}

// Handles and heap bytes in use by the process.
struct ResourceCount {
  DWORD handles = 0;
  size_t heapBytes = 0;     // busy blocks of every process heap
  size_t privateBytes = 0;  // the process's private commit
};

// Open handles of the process. Wine reports no count through GetProcessHandleCount, so
// the handle values are tried one by one where it answers 0.
inline DWORD CountHandles() {
  DWORD count = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &count) && count) return count;
  for (uintptr_t value = 4; value < 0x20000; value += 4) {
    DWORD flags = 0;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
  }
  return count;
}

inline ResourceCount CountResources() {
  ResourceCount c;
  c.handles = CountHandles();
  HANDLE heaps[64];
  const DWORD n = GetProcessHeaps(64, heaps);
  for (DWORD i = 0; i < n && i < 64; ++i) {
    if (!HeapLock(heaps[i])) continue;
    PROCESS_HEAP_ENTRY entry = {};
    while (HeapWalk(heaps[i], &entry))
      if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) c.heapBytes += entry.cbData;
    HeapUnlock(heaps[i]);
  }
  PROCESS_MEMORY_COUNTERS_EX m = {};
  m.cb = sizeof m;
  if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&m), sizeof m))
    c.privateBytes = m.PrivateUsage;
  return c;
}

// Whether the encoder library is loaded in this process.
inline bool EncoderLibraryLoaded() { return GetModuleHandleA("TVQENC.DLL") != nullptr; }

}  // namespace campaign
