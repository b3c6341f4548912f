// Closes the message boxes a plug-in shows during a test and records their texts, so a
// test can assert on a message without a person at the screen. Needs a display (Xvfb).
#pragma once

#include <windows.h>

#include "thread_stagger.h"

#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include <atomic>

class MessageBoxWatcher {
 public:
  MessageBoxWatcher() : thread_((StaggerThreadStart(), [this] { Run(); })) {}
  ~MessageBoxWatcher() {
    stop_ = true;
    thread_.join();
  }
  MessageBoxWatcher(const MessageBoxWatcher&) = delete;
  MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

  // Texts of the message boxes closed so far, in order.
  std::vector<std::string> Texts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return texts_;
  }

  // Waits up to timeoutMs for at least count message boxes to have been closed.
  bool WaitFor(size_t count, DWORD timeoutMs = 10000) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 20) {
      if (Texts().size() >= count) return true;
      Sleep(20);
    }
    return Texts().size() >= count;
  }

 private:
  void Run() {
    while (!stop_) {
      EnumWindows(&MessageBoxWatcher::OnWindow, reinterpret_cast<LPARAM>(this));
      Sleep(20);
    }
  }

  static BOOL CALLBACK OnWindow(HWND window, LPARAM self) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char cls[64] = {};
    GetClassNameA(window, cls, sizeof cls);
    if (pid != GetCurrentProcessId() || std::string(cls) != "#32770" || !IsWindowVisible(window))
      return TRUE;
    // A message box keeps its text in the static control 0xFFFF.
    HWND label = GetDlgItem(window, 0xFFFF);
    // A plug-in's own dialog has a combo box; a message box has none.
    if (!label || FindWindowExA(window, nullptr, "ComboBox", nullptr)) return TRUE;
    char text[512] = {};
    GetWindowTextA(label, text, sizeof text);
    auto* watcher = reinterpret_cast<MessageBoxWatcher*>(self);
    {
      std::lock_guard<std::mutex> lock(watcher->mutex_);
      for (HWND seen : watcher->seen_)
        if (seen == window) return TRUE;
      watcher->seen_.push_back(window);
      watcher->texts_.push_back(text);
    }
    PostMessageA(window, WM_COMMAND, IDOK, 0);
    return TRUE;
  }

  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::string> texts_;
  std::vector<HWND> seen_;
  std::thread thread_;
};
