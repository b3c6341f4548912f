#include "instance_registry.h"

#include <algorithm>

namespace tvqenc {

class InstanceRegistry::Hold {
 public:
  explicit Hold(const InstanceRegistry& r) : busy_(r.busy_) {
    while (busy_.test_and_set(std::memory_order_acquire)) {
    }
  }
  ~Hold() { busy_.clear(std::memory_order_release); }

 private:
  std::atomic_flag& busy_;
};

bool InstanceRegistry::Add(const EncoderInstance* instance) noexcept {
  Hold hold(*this);
  try {
    live_.push_back(instance);
  } catch (...) {
    return false;
  }
  return true;
}

bool InstanceRegistry::Remove(const EncoderInstance* instance) noexcept {
  Hold hold(*this);
  const auto at = std::find(live_.begin(), live_.end(), instance);
  if (at == live_.end()) return false;
  live_.erase(at);
  return true;
}

bool InstanceRegistry::Contains(const EncoderInstance* instance) const noexcept {
  Hold hold(*this);
  return instance && std::find(live_.begin(), live_.end(), instance) != live_.end();
}

size_t InstanceRegistry::Count() const noexcept {
  Hold hold(*this);
  return live_.size();
}

}  // namespace tvqenc
