// A one-line progress bar redrawn in place on a terminal; silent when disabled.
#pragma once

#include <cstdint>
#include <cstdio>

namespace flthost {

class Progress {
 public:
  // `total` of 0 means unknown: the bar then shows only the count done.
  Progress(std::FILE* out, bool enabled, const char* label, uint64_t total)
      : out_(out), enabled_(enabled), label_(label), total_(total) {}
  void Update(uint64_t done);
  // Ends the line if anything was drawn.
  void Finish();

 private:
  std::FILE* out_;
  bool enabled_;
  const char* label_;
  uint64_t total_;
  int lastPercent_ = -1;
  bool drawn_ = false;
};

}  // namespace flthost
