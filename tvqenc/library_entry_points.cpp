// The eight entry points of TVQENC.DLL. Each stream's encoder instance is found through
// FrameIndex.libraryPrivate and used only while the registry holds it; the layout queries
// answer for the mode initialised last (the plug-in asks right after initialising). Layouts
// live as long as the library, so they stay valid after the instance that chose them is
// gone. Nothing thrown inside (std::bad_alloc) leaves an entry point: the caller gets the
// failure value, as C callers expect.
#include <atomic>
#include <cstring>
#include <memory>

#include "encoder_instance.h"
#include "instance_registry.h"
#include "library_layouts.h"
#include "tvqenc_api.h"

namespace {

using tvqenc::LibraryLayout;

struct AllLayouts {
  LibraryLayout layouts[twinvq::kRateModeCount][2];
  AllLayouts() {
    for (int32_t row = 0; row < twinvq::kRateModeCount; ++row) {
      for (int32_t channelMode = 0; channelMode < 2; ++channelMode) {
        tvqenc::BuildLibraryLayout(twinvq::kRateModes[row], channelMode + 1, &layouts[row][channelMode]);
      }
    }
  }
};

// Built when the library loads, freed when it unloads. (A function-local static would need a
// guard, whose lock the runtime never releases on unload: handles would pile up in a host
// that loads and frees the library for every export.) Not const: the width arrays are handed
// out writable, and TvqEncUpdateVectorInfo writes the long-block layout back into them.
AllLayouts kLayouts;
AllLayouts& Layouts() { return kLayouts; }

// The layout whose long-block widths0 array this is, or null (arrays of the caller's own).
const LibraryLayout* LayoutOwning(const int32_t* widths0) {
  for (auto& row : Layouts().layouts)
    for (const LibraryLayout& layout : row)
      if (layout.widths0[2] == widths0) return &layout;
  return nullptr;
}

std::atomic<const LibraryLayout*> currentLayout{nullptr};

// Built and freed with the library, like the layouts.
tvqenc::InstanceRegistry liveInstances;

static_assert(sizeof(FrameIndex::libraryPrivate) >= sizeof(tvqenc::EncoderInstance*),
              "room for the stream's encoder");

tvqenc::EncoderInstance* InstanceOf(const FrameIndex* index) {
  tvqenc::EncoderInstance* instance = nullptr;
  std::memcpy(&instance, index->libraryPrivate, sizeof instance);
  return instance;
}

void SetInstanceOf(FrameIndex* index, tvqenc::EncoderInstance* instance) {
  std::memcpy(index->libraryPrivate, &instance, sizeof instance);
}

}  // namespace

namespace tvqenc {
size_t LiveInstanceCount() { return liveInstances.Count(); }
}  // namespace tvqenc

extern "C" {

int32_t TVQ_API TvqGetVersionID(int32_t, char* versionId) {
  if (!versionId) return -1;
  std::memcpy(versionId, TVQ_VERSION_ID, sizeof TVQ_VERSION_ID);
  return 0;
}

int32_t TVQ_API TvqEncInitialize(HeaderInfo* header, EncoderTuning*, FrameIndex* index, int32_t) {
  if (!header || !index) return -1;
  try {
    const twinvq::RateMode* mode = tvqenc::FindStreamMode(header->channelMode, header->bitRate, header->samplingRate);
    if (!mode) return -1;
    // A second initialise of the same index starts its stream again: the first instance
    // ends here instead of being lost.
    tvqenc::EncoderInstance* previous = InstanceOf(index);
    if (liveInstances.Remove(previous)) delete previous;
    SetInstanceOf(index, nullptr);
    std::unique_ptr<tvqenc::EncoderInstance> instance = tvqenc::EncoderInstance::Create(*header);
    if (!instance) return -1;
    instance->Attach(index);
    if (!liveInstances.Add(instance.get())) return -1;  // nothing below can throw
    SetInstanceOf(index, instance.release());
    currentLayout = &Layouts().layouts[mode - twinvq::kRateModes][header->channelMode];
    return 0;
  } catch (...) {
    return -1;
  }
}

int32_t TVQ_API TvqEncGetConfInfo(EncoderConfig* config) {
  const LibraryLayout* layout = currentLayout;
  if (!config || !layout) return -1;
  *config = layout->config;
  return 0;
}

int32_t TVQ_API TvqEncGetVectorInfo(int32_t** widths0, int32_t** widths1) {
  const LibraryLayout* layout = currentLayout;
  if (!widths0 || !widths1 || !layout) return -1;
  for (int entry = 0; entry < 4; ++entry) {
    widths0[entry] = const_cast<int32_t*>(layout->widths0[entry]);
    widths1[entry] = const_cast<int32_t*>(layout->widths1[entry]);
  }
  return 0;
}

int32_t TVQ_API TvqEncGetFrameSize(void) {
  const LibraryLayout* layout = currentLayout;
  return layout ? layout->frameSize : 0;
}

int32_t TVQ_API TvqEncodeFrame(const float* samples, FrameIndex* index) {
  if (!samples || !index) return -1;
  tvqenc::EncoderInstance* instance = InstanceOf(index);
  if (!liveInstances.Contains(instance)) return -1;
  try {
    instance->EncodeFrame(samples, index);
    return 0;
  } catch (...) {
    return -1;
  }
}

// Long blocks keep one layout in every mode: restate it. The stream is known by the width
// arrays it was handed, since several streams of different modes may be open at once; arrays
// of the caller's own get the layout of the mode initialised last.
int32_t TVQ_API TvqEncUpdateVectorInfo(int32_t, int32_t* shapeCount, int32_t* widths0,
                                       int32_t* widths1) {
  if (!shapeCount || !widths0 || !widths1) return -1;
  const LibraryLayout* layout = LayoutOwning(widths0);
  if (!layout) layout = currentLayout;
  if (!layout) return -1;
  tvqenc::RestateLongBlockWidths(*layout, shapeCount, widths0, widths1);
  return 0;
}

// An index with no instance has nothing to end (0); one whose instance is not registered
// (ended already, or a copy of an ended stream's index) is refused.
int32_t TVQ_API TvqEncTerminate(FrameIndex* index) {
  if (!index) return -1;
  tvqenc::EncoderInstance* instance = InstanceOf(index);
  if (!instance) return 0;
  if (!liveInstances.Remove(instance)) return -1;
  delete instance;
  SetInstanceOf(index, nullptr);
  return 0;
}

}  // extern "C"
