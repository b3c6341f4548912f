// The encoder instances the library has handed out and not yet taken back. A FrameIndex
// carries its instance's address, and the caller may initialise the same index twice, or
// keep a copy of it past the terminate: only an address found here is ever used.
// Portable; safe from several threads (a spin lock: no lock object whose first use needs
// a guard the runtime never frees, see library_unload.cpp).
#pragma once

#include <atomic>
#include <cstddef>
#include <vector>

namespace tvqenc {

class EncoderInstance;

class InstanceRegistry {
 public:
  // False when there is no memory to record it.
  bool Add(const EncoderInstance* instance) noexcept;
  // False when the instance is not (or no longer) registered.
  bool Remove(const EncoderInstance* instance) noexcept;
  bool Contains(const EncoderInstance* instance) const noexcept;
  size_t Count() const noexcept;

 private:
  class Hold;
  mutable std::atomic_flag busy_ = ATOMIC_FLAG_INIT;
  std::vector<const EncoderInstance*> live_;
};

// The library's instances handed out and not yet ended (defined beside the entry points).
size_t LiveInstanceCount();

}  // namespace tvqenc
