// Turns the host's interleaved PCM into planar frames of floats on the 16-bit scale,
// the form the encoder library takes. Portable: no Windows headers.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

namespace vqf {

// One frame being gathered: channel c's samples lie at c * frameSize .. c * frameSize + frameSize - 1.
struct PlanarFrame {
  uint32_t bitsPerSample;  // 8 (unsigned, 128 is zero) or 16 (signed little-endian)
  uint32_t channels;
  uint32_t frameSize;      // samples per channel in one frame
  float* samples;          // frameSize * channels floats
  uint32_t filled;         // samples per channel gathered so far, below frameSize between calls
};

// 8-bit u becomes u * 257 - 32768, so 0, 128 and 255 give -32768, 128 and 32767.
inline float SampleFromUnsigned8(uint8_t u) { return static_cast<float>(u * 257 - 32768); }

// Windows, the only place the plug-in runs, is little-endian: a plain load is the sample.
inline float SampleFromSigned16(const uint8_t* p) {
  int16_t value;
  memcpy(&value, p, sizeof value);
  return static_cast<float>(value);
}

// Converts every whole sample frame of the block into the frame buffer, calling
// onFullFrame() each time the buffer holds frameSize samples per channel (filled is 0
// again afterwards). Each block starts at channel 0; a trailing piece of a sample frame
// is not taken, as the host passes whole sample frames.
template <typename OnFullFrame>
void GatherFrames(PlanarFrame& frame, const uint8_t* data, size_t bytes, OnFullFrame onFullFrame) {
  const size_t bytesPerSample = frame.bitsPerSample / 8;
  const size_t stride = bytesPerSample * frame.channels;
  size_t pending = bytes / stride;
  while (pending > 0) {
    size_t room = frame.frameSize - frame.filled;
    size_t run = pending < room ? pending : room;
    for (uint32_t c = 0; c < frame.channels; ++c) {
      float* out = frame.samples + static_cast<size_t>(c) * frame.frameSize + frame.filled;
      const uint8_t* in = data + c * bytesPerSample;
      // Separate loops per sample width and channel count let the compiler vectorise them.
      if (bytesPerSample == 1) {
        for (size_t i = 0; i < run; ++i) out[i] = SampleFromUnsigned8(in[i * stride]);
      } else if (frame.channels == 2) {
        for (size_t i = 0; i < run; ++i) out[i] = SampleFromSigned16(in + i * 4);
      } else {
        for (size_t i = 0; i < run; ++i) out[i] = SampleFromSigned16(in + i * 2);
      }
    }
    data += run * stride;
    pending -= run;
    frame.filled += static_cast<uint32_t>(run);
    if (frame.filled == frame.frameSize) {
      onFullFrame();
      frame.filled = 0;
    }
  }
}

// Silences every channel's positions from `from` to the end of the frame.
void SilenceFrom(PlanarFrame& frame, uint32_t from);

}  // namespace vqf
