// Optional call log for tests (VELL_WMA_TRACE=path): one line per call the stand-in
// receives, appended to the file. Lines from all objects and threads are serialised.
#pragma once

#include <string>

namespace vwma {

class Trace {
 public:
  Trace() = default;
  explicit Trace(const char* path) : path_(path ? path : "") {}

  // printf-style; nothing happens when no trace file was named.
  void Line(const char* format, ...) const __attribute__((format(printf, 2, 3)));

 private:
  std::string path_;
};

}  // namespace vwma
