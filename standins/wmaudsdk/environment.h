// Reads the stand-in's switches from the process environment block (where
// SetEnvironmentVariableA puts them; the C runtime's copy would not see those).
#pragma once

#include "switches.h"

#include <string>

namespace vwma {

class Environment {
 public:
  // The value of a variable, or null when it is unset. Valid until the next call.
  const char* Get(const char* name);

  // Adapter for the portable readers of switches.h.
  static const char* Lookup(const char* name, void* self) {
    return static_cast<Environment*>(self)->Get(name);
  }

 private:
  std::string value_;
};

}  // namespace vwma
