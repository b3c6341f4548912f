// Loads a plug-in as the audio editor does, binds its entry points by name, explains a
// failed load, and keeps the time spent inside the plug-in's calls.
#pragma once

#include "plugin_loader.h"
#include "vell_filter.h"

#include <memory>
#include <string>
#include <vector>

namespace flthost {

class Plugin {
 public:
  Plugin() = default;
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  // Loads the module and binds every entry point it has. On failure returns false with a
  // one-line reason: file not found, wrong machine type, which DLL is missing, or
  // Windows' own message.
  bool Load(const std::string& path, std::string& error);

  HMODULE module() const { return loaded_->module; }
  // Every entry point the plug-in exports; the others are null.
  const LoadedPlugin& entry() const { return *loaded_; }
  const std::string& path() const { return path_; }

  // Names of the contract's entry points, each with whether the plug-in exports it.
  std::vector<std::pair<const char*, bool>> ExportTable() const;
  // The first of `names` the plug-in does not export, or nullptr when it has them all.
  const char* FirstMissing(std::initializer_list<const char*> names) const;

 private:
  std::unique_ptr<LoadedPlugin> loaded_;
  std::string path_;
};

// Accumulates the wall-clock time spent inside timed calls (QueryPerformanceCounter).
class CallTimer {
 public:
  CallTimer();
  template <typename Call>
  auto operator()(Call call) -> decltype(call()) {
    Stopwatch watch(*this);
    return call();
  }
  double Seconds() const { return double(ticks_) / double(frequency_); }

 private:
  struct Stopwatch {
    explicit Stopwatch(CallTimer& timer);
    ~Stopwatch();
    CallTimer& timer;
    LONGLONG start;
  };
  LONGLONG frequency_ = 1;
  LONGLONG ticks_ = 0;
};

}  // namespace flthost
