#include "library_layouts.h"

#include <cstring>

namespace tvqenc {

const twinvq::RateMode* FindStreamMode(int32_t channelMode, int32_t totalKbps, int32_t kHzCode) {
  if (channelMode != 0 && channelMode != 1) return nullptr;
  const int32_t channels = channelMode + 1;
  if (totalKbps <= 0 || totalKbps % channels != 0) return nullptr;
  return twinvq::FindRateMode(kHzCode, totalKbps / channels);
}

bool BuildLibraryLayout(const twinvq::RateMode& mode, int32_t channels, LibraryLayout* layout) {
  twinvq::StreamSetup setup;
  if (!setup.Init(mode.kHzCode, mode.kbpsPerChannel, channels)) return false;
  layout->mode = &mode;
  layout->channels = channels;
  layout->frameSize = setup.frameSize();
  setup.FillEncoderConfig(&layout->config);
  for (int32_t entry = 0; entry < 4; ++entry) {
    setup.FillCodebookWidths(entry, layout->widths0[entry], layout->widths1[entry]);
  }
  return true;
}

void RestateLongBlockWidths(const LibraryLayout& layout, int32_t* shapeCount, int32_t* widths0,
                            int32_t* widths1) {
  const int32_t pairs = layout.config.blockTypes[twinvq::kLongBlock].shapeCount;
  *shapeCount = pairs;
  const size_t bytes = sizeof(int32_t) * static_cast<size_t>(pairs);
  std::memmove(widths0, layout.widths0[twinvq::kLongBlock], bytes);
  std::memmove(widths1, layout.widths1[twinvq::kLongBlock], bytes);
}

}  // namespace tvqenc
