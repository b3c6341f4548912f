// The encoder instances the library has handed out and not yet taken back. A FrameIndex
// carries its instance's address and the serial it was registered under; the caller may
// initialise the same index twice, or keep a copy of it past the terminate (whose address
// a later stream may reuse): only an address found here under its own serial is used.
// A use is taken under the lock and given back after the frame, so a stream ended on
// another thread meanwhile is deleted by its last user, never under it.
// Portable; safe from several threads (a spin lock that yields: no lock object whose first
// use needs a guard the runtime never frees, see library_unload.cpp).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tvqenc {

class EncoderInstance;

class InstanceRegistry {
 public:
  // The instance's serial (never 0); 0 when there is no memory to record it.
  uint64_t Add(EncoderInstance* instance) noexcept;
  // The instance registered under this serial and not ended, held until Release; else null.
  EncoderInstance* Acquire(const EncoderInstance* instance, uint64_t serial) noexcept;
  // Gives back a use; the instance to delete when it was ended and this was its last use.
  EncoderInstance* Release(const EncoderInstance* instance) noexcept;
  // Ends the instance; false when it is not registered under this serial (or ended
  // already). *toDelete: the instance when no use holds it, else null (its last user deletes).
  bool End(const EncoderInstance* instance, uint64_t serial, EncoderInstance** toDelete) noexcept;
  size_t Count() const noexcept;

 private:
  class Hold;
  struct Entry {
    EncoderInstance* instance;
    uint64_t serial;
    uint32_t uses;
    bool ended;
  };
  Entry* Find(const EncoderInstance* instance, uint64_t serial) noexcept;
  mutable std::atomic_flag busy_ = ATOMIC_FLAG_INIT;
  std::vector<Entry> live_;
  uint64_t lastSerial_ = 0;
};

// The library's instances handed out and not yet deleted (defined beside the entry points).
size_t LiveInstanceCount();

}  // namespace tvqenc
