// The frame-record layouts TVQENC.DLL reports, one per stream mode, taken from the codec
// core's StreamSetup (the layouts the encoder encodes with), so the records the plug-in
// writes and the frames the encoder makes cannot disagree. Portable.
#pragma once

#include <cstdint>

#include "stream_setup.h"
#include "tables.h"
#include "tvqenc_api.h"

namespace tvqenc {

struct LibraryLayout {
  const twinvq::RateMode* mode = nullptr;
  int32_t channels = 0;
  int32_t frameSize = 0;
  EncoderConfig config{};
  // Codebook entries 0-2: shape pairs of block types 0-2; entry 3: the peak part's pairs.
  int32_t widths0[4][twinvq::kMaxMainPairs] = {};
  int32_t widths1[4][twinvq::kMaxMainPairs] = {};
};

// The rate mode for HeaderInfo's channel mode (0 mono, 1 stereo), total kbps and kHz code;
// null when the combination is not one of the 18 the format has.
const twinvq::RateMode* FindStreamMode(int32_t channelMode, int32_t totalKbps, int32_t kHzCode);

// The layout of `mode` with `channels`; false when the core has no such stream.
bool BuildLibraryLayout(const twinvq::RateMode& mode, int32_t channels, LibraryLayout* layout);

// Writes the layout's long-block pair count and widths into the caller's arrays: what
// TvqEncUpdateVectorInfo restates after a long-block frame (the arrays may be the layout's own).
void RestateLongBlockWidths(const LibraryLayout& layout, int32_t* shapeCount, int32_t* widths0,
                            int32_t* widths1);

}  // namespace tvqenc
