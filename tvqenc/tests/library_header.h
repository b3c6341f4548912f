// The HeaderInfo a caller of the library fills for a stream mode.
#pragma once

#include <cstdint>
#include <cstring>

#include "tvqenc_api.h"

inline HeaderInfo LibraryHeader(int32_t kHz, int32_t kbpsPerChannel, int32_t channels) {
  HeaderInfo h;
  std::memset(&h, 0, sizeof h);
  h.channelMode = channels - 1;
  h.bitRate = kbpsPerChannel * channels;
  h.samplingRate = kHz;
  return h;
}
