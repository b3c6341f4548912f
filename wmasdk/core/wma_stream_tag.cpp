#include "wma_stream_tag.h"

#include <cstring>

namespace wmacore {
namespace {

// n decimal digits at p, or -1.
int64_t Digits(const char* p, int n) {
  int64_t v = 0;
  for (int i = 0; i < n; ++i) {
    if (p[i] < '0' || p[i] > '9') return -1;
    v = v * 10 + (p[i] - '0');
  }
  return v;
}

}  // namespace

SampleCountTag ParseSampleCountTag(const char* value) {
  SampleCountTag tag;
  if (!value) return tag;
  const size_t length = std::strlen(value);
  const int64_t samples = length >= 16 ? Digits(value, 16) : -1;
  if (samples < 0) return tag;
  if (length == 16) {
    tag.samples = samples;
  } else if (length == 16 + 1 + 6 + 1 + 1 && value[16] == ' ' && value[23] == ' ') {
    const int64_t rate = Digits(value + 17, 6);
    const int64_t channels = Digits(value + 24, 1);
    if (rate <= 0 || channels <= 0) return tag;
    tag.samples = samples;
    tag.rate = static_cast<uint32_t>(rate);
    tag.channels = static_cast<uint32_t>(channels);
  }
  return tag;
}

}  // namespace wmacore
