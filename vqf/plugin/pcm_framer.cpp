#include "pcm_framer.h"

namespace vqf {

void SilenceFrom(PlanarFrame& frame, uint32_t from) {
  for (uint32_t c = 0; c < frame.channels; ++c) {
    float* channel = frame.samples + static_cast<size_t>(c) * frame.frameSize;
    for (uint32_t i = from; i < frame.frameSize; ++i) channel[i] = 0.0f;
  }
}

}  // namespace vqf
