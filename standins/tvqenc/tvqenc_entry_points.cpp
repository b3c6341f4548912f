// The eight entry points of the stand-in encoder library. Each stream's encoder is found
// through FrameIndex.libraryPrivate; the layout queries answer for the stream initialised
// last, as the plug-in asks for them right after initialising.
#include <cstring>
#include <new>

#include "standin_encoder.h"
#include "tvqenc_api.h"

#ifndef TVQENC_VERSION_TEXT
#define TVQENC_VERSION_TEXT TVQ_VERSION_ID
#endif

namespace {

// One layout per mode and channel count, computed when first needed. The width arrays
// handed out point in here and stay valid while the library is loaded.
TwinVqLayout layouts[kTwinVqModeCount][2];
bool layoutReady[kTwinVqModeCount][2];
TwinVqLayout* currentLayout = nullptr;

static_assert(sizeof(FrameIndex::libraryPrivate) >= sizeof(StandinEncoder*),
              "room for the stream's encoder");

StandinEncoder* EncoderOf(const FrameIndex* index) {
  StandinEncoder* encoder = nullptr;
  std::memcpy(&encoder, index->libraryPrivate, sizeof encoder);
  return encoder;
}

void SetEncoderOf(FrameIndex* index, StandinEncoder* encoder) {
  std::memcpy(index->libraryPrivate, &encoder, sizeof encoder);
}

TwinVqLayout* LayoutFor(const HeaderInfo& header) {
  const TwinVqMode* mode = FindTwinVqMode(header.channelMode, header.bitRate, header.samplingRate);
  if (!mode) return nullptr;
  const int32_t row = static_cast<int32_t>(mode - kTwinVqModes);
  const int32_t channels = header.channelMode;  // 0 mono, 1 stereo
  if (!layoutReady[row][channels]) {
    ComputeTwinVqLayout(header.channelMode, header.bitRate, header.samplingRate,
                        &layouts[row][channels]);
    layoutReady[row][channels] = true;
  }
  return &layouts[row][channels];
}

// The layout whose long-block widths0 array this is, or null.
const TwinVqLayout* LayoutOwning(const int32_t* widths0) {
  for (int32_t row = 0; row < kTwinVqModeCount; ++row)
    for (int32_t channels = 0; channels < 2; ++channels)
      if (layoutReady[row][channels] && layouts[row][channels].widths0[kLongBlock] == widths0)
        return &layouts[row][channels];
  return nullptr;
}

}  // namespace

extern "C" {

int32_t TVQ_API TvqGetVersionID(int32_t, char* versionId) {
  if (!versionId) return -1;
  std::memcpy(versionId, TVQENC_VERSION_TEXT, sizeof TVQENC_VERSION_TEXT);
  return 0;
}

int32_t TVQ_API TvqEncInitialize(HeaderInfo* header, EncoderTuning*, FrameIndex* index, int32_t) {
  if (!header || !index) return -1;
  TwinVqLayout* layout = LayoutFor(*header);
  if (!layout) return -1;
  StandinEncoder* encoder = nullptr;
  try {  // the encoder's arrays may not be had; no exception leaves the library
    encoder = new StandinEncoder(*layout);
  } catch (...) {
    return -1;
  }
  encoder->Attach(index);
  SetEncoderOf(index, encoder);
  currentLayout = layout;
  return 0;
}

int32_t TVQ_API TvqEncGetConfInfo(EncoderConfig* config) {
  if (!config || !currentLayout) return -1;
  *config = currentLayout->config;
  return 0;
}

int32_t TVQ_API TvqEncGetVectorInfo(int32_t** widths0, int32_t** widths1) {
  if (!widths0 || !widths1 || !currentLayout) return -1;
  for (int entry = 0; entry < 4; ++entry) {
    widths0[entry] = currentLayout->widths0[entry];
    widths1[entry] = currentLayout->widths1[entry];
  }
  return 0;
}

int32_t TVQ_API TvqEncGetFrameSize(void) {
  return currentLayout ? currentLayout->mode->frameSize : 0;
}

int32_t TVQ_API TvqEncodeFrame(const float* samples, FrameIndex* index) {
  if (!samples || !index) return -1;
  StandinEncoder* encoder = EncoderOf(index);
  if (!encoder) return -1;
  encoder->Encode(samples, index);
  return 0;
}

// Long blocks keep one layout within a mode: restate it. The stream is known by the width
// arrays it was handed (several streams of different modes may be open at once); arrays of
// the caller's own get the layout of the stream initialised last.
int32_t TVQ_API TvqEncUpdateVectorInfo(int32_t, int32_t* shapeCount, int32_t* widths0,
                                       int32_t* widths1) {
  if (!shapeCount || !widths0 || !widths1) return -1;
  const TwinVqLayout* layout = LayoutOwning(widths0);
  if (!layout) layout = currentLayout;
  if (!layout) return -1;
  RestateLongBlockWidths(*layout, shapeCount, widths0, widths1);
  return 0;
}

int32_t TVQ_API TvqEncTerminate(FrameIndex* index) {
  if (!index) return -1;
  delete EncoderOf(index);
  SetEncoderOf(index, nullptr);
  return 0;
}

}  // extern "C"
