// Per-process scratch directory, the message-box watcher and resource counts for the
// campaign tests; the stand-in SDK's switches and files come from the WMA plug-in's tests.
#pragma once

#include "campaign_support.h"
#include "message_box_watcher.h"
#include "wma_test_support.h"  // SdkSwitches, WriteContainer, OpenHandleCount

#include <gtest/gtest.h>

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

// The one message-box watcher of the program (its thread runs for the whole run).
inline MessageBoxWatcher& Watcher() {
  static MessageBoxWatcher watcher;
  return watcher;
}

// Handles and heap bytes in use by the process.
struct ResourceCount {
  DWORD handles = 0;
  size_t heapBytes = 0;  // busy blocks of every process heap
};

inline ResourceCount CountResources() {
  ResourceCount c;
  c.handles = OpenHandleCount();
  HANDLE heaps[64];
  const DWORD n = GetProcessHeaps(64, heaps);
  for (DWORD i = 0; i < n && i < 64; ++i) {
    if (!HeapLock(heaps[i])) continue;
    PROCESS_HEAP_ENTRY entry = {};
    while (HeapWalk(heaps[i], &entry))
      if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) c.heapBytes += entry.cbData;
    HeapUnlock(heaps[i]);
  }
  return c;
}

// Whether the encoder library is loaded in this process.
inline bool EncoderLibraryLoaded() { return GetModuleHandleA("TVQENC.DLL") != nullptr; }

}  // namespace campaign
