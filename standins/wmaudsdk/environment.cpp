#include "environment.h"

#include <windows.h>

namespace vwma {

const char* Environment::Get(const char* name) {
  value_.assign(64, '\0');
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const DWORD n = GetEnvironmentVariableA(name, &value_[0], static_cast<DWORD>(value_.size()));
    if (n == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return nullptr;
    if (n < value_.size()) {
      value_.resize(n);
      return value_.c_str();
    }
    value_.assign(n, '\0');  // n counts the terminator when the buffer was too small
  }
}

}  // namespace vwma
