// The writer stores the exact count of samples it was given in the file's extended
// content description, with the rate and channels it counted them at, so the reader can
// end the stream where the input ended (the encoder only emits whole frames). Fixed
// width, so the header keeps its size when the count is filled in at the end:
// "<16-digit count> <6-digit rate> <channels>". Files of earlier versions hold the count
// alone.
#pragma once

#include <cstdint>

namespace wmacore {
constexpr const char* kSampleCountTag = "VellSampleCount";
constexpr int kSampleCountDigits = 16;
constexpr int kSampleCountTextSize = 16 + 1 + 6 + 1 + 1 + 1;

struct SampleCountTag {
  int64_t samples = -1;  // -1: no usable tag
  uint32_t rate = 0;     // 0: not stored (an earlier version's tag)
  uint32_t channels = 0;
};

// Parses the tag's value; samples -1 when it has neither form.
SampleCountTag ParseSampleCountTag(const char* value);
}  // namespace wmacore
