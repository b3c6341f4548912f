// The eight entry points of TVQENC.DLL. Each stream's encoder instance is found through
// FrameIndex.libraryPrivate (its address and serial) and used only while the registry holds
// it; the layout queries answer for the mode the calling thread initialised last (the
// plug-in asks right after initialising). Layouts
// live as long as the library, so they stay valid after the instance that chose them is
// gone. Nothing thrown inside (std::bad_alloc) leaves an entry point: the caller gets the
// failure value, as C callers expect.
#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#endif

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

// The layout each thread initialised last, so two threads initialising different modes
// never read each other's. A small table rather than thread_local storage: this compiler's
// thread-local storage allocates a block per thread that the library's unloading (a host
// may load and free it for every export) never gives back.
class ThreadLayouts {
 public:
  void Set(const LibraryLayout* layout) noexcept {
    const uint64_t thread = CurrentThread();
    Hold hold(busy_);
    last_ = layout;
    for (Slot& s : slots_) {
      if (s.thread == thread) {
        s.layout = layout;
        return;
      }
    }
    slots_[next_] = Slot{thread, layout};
    next_ = (next_ + 1) % kSlots;
  }
  // This thread's, or (a thread that initialised none) the one initialised last anywhere.
  const LibraryLayout* Get() const noexcept {
    const uint64_t thread = CurrentThread();
    Hold hold(busy_);
    for (const Slot& s : slots_)
      if (s.thread == thread && s.layout) return s.layout;
    return last_;
  }

 private:
  static constexpr int kSlots = 64;  // threads remembered; the oldest is forgotten first
  struct Slot {
    uint64_t thread;
    const LibraryLayout* layout;
  };
  class Hold {
   public:
    explicit Hold(std::atomic_flag& busy) : busy_(busy) {
      while (busy_.test_and_set(std::memory_order_acquire)) std::this_thread::yield();
    }
    ~Hold() { busy_.clear(std::memory_order_release); }

   private:
    std::atomic_flag& busy_;
  };
  static uint64_t CurrentThread() noexcept {
#ifdef _WIN32
    return GetCurrentThreadId();
#else
    return static_cast<uint64_t>(pthread_self());
#endif
  }
  mutable std::atomic_flag busy_ = ATOMIC_FLAG_INIT;
  Slot slots_[kSlots] = {};
  int next_ = 0;
  const LibraryLayout* last_ = nullptr;
};

ThreadLayouts currentLayouts;

// Built and freed with the library, like the layouts.
tvqenc::InstanceRegistry liveInstances;

// libraryPrivate holds the stream's encoder address in its first 8 bytes (4 used on 32-bit
// builds) and the serial it was registered under in the next 8.
constexpr size_t kSerialAt = 8;
static_assert(sizeof(tvqenc::EncoderInstance*) <= kSerialAt &&
                  sizeof(FrameIndex::libraryPrivate) >= kSerialAt + sizeof(uint64_t),
              "room for the stream's encoder and its serial");

tvqenc::EncoderInstance* InstanceOf(const FrameIndex* index) {
  tvqenc::EncoderInstance* instance = nullptr;
  std::memcpy(&instance, index->libraryPrivate, sizeof instance);
  return instance;
}

uint64_t SerialOf(const FrameIndex* index) {
  uint64_t serial = 0;
  std::memcpy(&serial, reinterpret_cast<const char*>(index->libraryPrivate) + kSerialAt, sizeof serial);
  return serial;
}

void SetInstanceOf(FrameIndex* index, tvqenc::EncoderInstance* instance, uint64_t serial) {
  std::memcpy(index->libraryPrivate, &instance, sizeof instance);
  std::memcpy(reinterpret_cast<char*>(index->libraryPrivate) + kSerialAt, &serial, sizeof serial);
}

// Ends the index's stream if it is registered; deleted now, or by its last user.
bool EndStream(const FrameIndex* index) {
  tvqenc::EncoderInstance* unused = nullptr;
  if (!liveInstances.End(InstanceOf(index), SerialOf(index), &unused)) return false;
  delete unused;
  return true;
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
    EndStream(index);
    SetInstanceOf(index, nullptr, 0);
    std::unique_ptr<tvqenc::EncoderInstance> instance = tvqenc::EncoderInstance::Create(*header);
    if (!instance) return -1;
    instance->Attach(index);
    const uint64_t serial = liveInstances.Add(instance.get());
    if (!serial) return -1;  // nothing below can throw
    SetInstanceOf(index, instance.release(), serial);
    currentLayouts.Set(&Layouts().layouts[mode - twinvq::kRateModes][header->channelMode]);
    return 0;
  } catch (...) {
    return -1;
  }
}

int32_t TVQ_API TvqEncGetConfInfo(EncoderConfig* config) {
  const LibraryLayout* layout = currentLayouts.Get();
  if (!config || !layout) return -1;
  *config = layout->config;
  return 0;
}

int32_t TVQ_API TvqEncGetVectorInfo(int32_t** widths0, int32_t** widths1) {
  const LibraryLayout* layout = currentLayouts.Get();
  if (!widths0 || !widths1 || !layout) return -1;
  for (int entry = 0; entry < 4; ++entry) {
    widths0[entry] = const_cast<int32_t*>(layout->widths0[entry]);
    widths1[entry] = const_cast<int32_t*>(layout->widths1[entry]);
  }
  return 0;
}

int32_t TVQ_API TvqEncGetFrameSize(void) {
  const LibraryLayout* layout = currentLayouts.Get();
  return layout ? layout->frameSize : 0;
}

int32_t TVQ_API TvqEncodeFrame(const float* samples, FrameIndex* index) {
  if (!samples || !index) return -1;
  // Held in use for the frame: a terminate meanwhile leaves the delete to the release.
  tvqenc::EncoderInstance* instance = liveInstances.Acquire(InstanceOf(index), SerialOf(index));
  if (!instance) return -1;
  int32_t result = 0;
  try {
    instance->EncodeFrame(samples, index);
  } catch (...) {
    result = -1;
  }
  delete liveInstances.Release(instance);
  return result;
}

// Long blocks keep one layout in every mode: restate it. The stream is known by the width
// arrays it was handed, since several streams of different modes may be open at once; arrays
// of the caller's own get the layout of the mode initialised last.
int32_t TVQ_API TvqEncUpdateVectorInfo(int32_t, int32_t* shapeCount, int32_t* widths0,
                                       int32_t* widths1) {
  if (!shapeCount || !widths0 || !widths1) return -1;
  const LibraryLayout* layout = LayoutOwning(widths0);
  if (!layout) layout = currentLayouts.Get();
  if (!layout) return -1;
  tvqenc::RestateLongBlockWidths(*layout, shapeCount, widths0, widths1);
  return 0;
}

// An index with no instance has nothing to end (0); one whose instance is not registered
// (ended already, or a copy of an ended stream's index) is refused.
int32_t TVQ_API TvqEncTerminate(FrameIndex* index) {
  if (!index) return -1;
  if (!InstanceOf(index)) return 0;
  if (!EndStream(index)) return -1;
  SetInstanceOf(index, nullptr, 0);
  return 0;
}

}  // extern "C"
