// What the probe library (tvqenc_probe.cpp) records, as a test reads it through the
// probe's extra export ProbeGetStats.
#pragma once

#include <stdint.h>

constexpr int32_t kProbeMaxSamples = 2 * 2048;

struct ProbeStats {
  int32_t initializeCalls;
  int32_t terminateCalls;
  int32_t encodeCalls;
  int32_t lastTuning;
  double encodeSeconds;   // inside TvqEncodeFrame
  double librarySeconds;  // inside every call into the library
  int32_t lastFrameSamples;
  float lastFrame[kProbeMaxSamples];  // the last frame passed to TvqEncodeFrame, planar
};

extern "C" {
typedef void (*ProbeGetStatsProc)(ProbeStats*);
}
