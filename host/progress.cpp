#include "progress.h"

namespace flthost {

void Progress::Update(uint64_t done) {
  if (!enabled_) return;
  constexpr int kWidth = 40;
  if (total_ == 0) {
    std::fprintf(out_, "\r%s %llu bytes", label_, static_cast<unsigned long long>(done));
  } else {
    const uint64_t clamped = done < total_ ? done : total_;
    const int percent = int(clamped * 100 / total_);
    if (percent == lastPercent_) return;  // redraw only when the figure changes
    lastPercent_ = percent;
    const int filled = int(clamped * kWidth / total_);
    char bar[kWidth + 1];
    for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : '.';
    bar[kWidth] = '\0';
    std::fprintf(out_, "\r%s [%s] %3d%%", label_, bar, percent);
  }
  std::fflush(out_);
  drawn_ = true;
}

void Progress::Finish() {
  if (drawn_) std::fputc('\n', out_);
  drawn_ = false;
}

}  // namespace flthost
