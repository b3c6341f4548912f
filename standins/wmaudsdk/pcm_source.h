// Sequential reads of the PCM that follows a container header, through a large buffer so
// that small delivery blocks do not cost one file read each.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

namespace vwma {

class PcmSource {
 public:
  PcmSource(HANDLE file, uint32_t bytes) : file_(file), leftInFile_(bytes) {}

  // The next n bytes, contiguous and valid until the next call; null when the file
  // cannot supply them.
  const uint8_t* Next(std::size_t n);

 private:
  static constexpr std::size_t kChunk = 1u << 20;
  HANDLE file_;
  uint64_t leftInFile_;
  std::vector<uint8_t> buffer_;
  std::size_t begin_ = 0;  // unread bytes are buffer_[begin_, end_)
  std::size_t end_ = 0;
};

}  // namespace vwma
