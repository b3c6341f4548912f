// Helpers of the stand-in tests: a stream opened through the stand-in's own entry points
// with the plug-in's module-wide pointers aimed at them, as the loaded library would be.
#pragma once

#include <cstring>

#include "encoder_library.h"
#include "frame_writer.h"
#include "tvqenc_api.h"

inline void UseLinkedStandin() {
  EncoderEntryPoints& e = encoderEntryPoints;
  e.TvqEncGetVectorInfo = TvqEncGetVectorInfo;
  e.TvqEncGetConfInfo = TvqEncGetConfInfo;
  e.TvqEncUpdateVectorInfo = TvqEncUpdateVectorInfo;
  e.TvqEncGetFrameSize = TvqEncGetFrameSize;
  e.TvqEncInitialize = TvqEncInitialize;
  e.TvqGetVersionID = TvqGetVersionID;
  e.TvqEncTerminate = TvqEncTerminate;
  e.TvqEncodeFrame = TvqEncodeFrame;
}

// One encoder stream: initialised in the constructor, terminated in the destructor.
struct StandinStream {
  HeaderInfo header;
  EncoderTuning tuning{16};
  FrameIndex index;
  FrameLayout layout{};
  int32_t result;

  StandinStream(int32_t channels, int32_t kbpsPerChannel, int32_t kHz) {
    std::memset(&header, 0, sizeof header);
    std::memset(&index, 0, sizeof index);
    header.channelMode = channels == 2 ? 1 : 0;
    header.bitRate = channels * kbpsPerChannel;
    header.samplingRate = kHz;
    UseLinkedStandin();
    result = encoderEntryPoints.TvqEncInitialize(&header, &tuning, &index, 1);
    if (result == 0) FetchFrameLayout(&layout);
  }
  ~StandinStream() {
    if (result == 0) encoderEntryPoints.TvqEncTerminate(&index);
  }
  StandinStream(const StandinStream&) = delete;
  StandinStream& operator=(const StandinStream&) = delete;
};
