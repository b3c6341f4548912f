#include "instance_registry.h"

#include <algorithm>
#include <thread>

namespace tvqenc {

class InstanceRegistry::Hold {
 public:
  explicit Hold(const InstanceRegistry& r) : busy_(r.busy_) {
    // Yields while another thread holds it: that thread may be waiting for this core.
    while (busy_.test_and_set(std::memory_order_acquire)) std::this_thread::yield();
  }
  ~Hold() { busy_.clear(std::memory_order_release); }

 private:
  std::atomic_flag& busy_;
};

InstanceRegistry::Entry* InstanceRegistry::Find(const EncoderInstance* instance, uint64_t serial) noexcept {
  const auto at = std::find_if(live_.begin(), live_.end(),
                               [&](const Entry& e) { return e.instance == instance && e.serial == serial; });
  return at == live_.end() || !instance ? nullptr : &*at;
}

uint64_t InstanceRegistry::Add(EncoderInstance* instance) noexcept {
  Hold hold(*this);
  try {
    live_.push_back(Entry{instance, ++lastSerial_, 0, false});
  } catch (...) {
    return 0;
  }
  return lastSerial_;
}

EncoderInstance* InstanceRegistry::Acquire(const EncoderInstance* instance, uint64_t serial) noexcept {
  Hold hold(*this);
  Entry* e = Find(instance, serial);
  if (!e || e->ended) return nullptr;
  ++e->uses;
  return e->instance;
}

EncoderInstance* InstanceRegistry::Release(const EncoderInstance* instance) noexcept {
  Hold hold(*this);
  const auto at = std::find_if(live_.begin(), live_.end(),
                               [&](const Entry& e) { return e.instance == instance && e.uses > 0; });
  if (at == live_.end() || --at->uses > 0 || !at->ended) return nullptr;
  EncoderInstance* last = at->instance;
  live_.erase(at);
  return last;
}

bool InstanceRegistry::End(const EncoderInstance* instance, uint64_t serial, EncoderInstance** toDelete) noexcept {
  Hold hold(*this);
  *toDelete = nullptr;
  Entry* e = Find(instance, serial);
  if (!e || e->ended) return false;
  e->ended = true;
  if (e->uses == 0) {
    *toDelete = e->instance;
    live_.erase(live_.begin() + (e - live_.data()));
  }
  return true;
}

size_t InstanceRegistry::Count() const noexcept {
  Hold hold(*this);
  return live_.size();
}

}  // namespace tvqenc
