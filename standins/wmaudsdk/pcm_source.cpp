#include "pcm_source.h"

#include <algorithm>
#include <cstring>

namespace vwma {

const uint8_t* PcmSource::Next(std::size_t n) {
  if (end_ - begin_ < n) {
    // Move the unread tail to the front, then fill up to a chunk past what is needed.
    const std::size_t held = end_ - begin_;
    if (buffer_.size() < std::max(n, kChunk)) buffer_.resize(std::max(n, kChunk));
    if (held) std::memmove(buffer_.data(), buffer_.data() + begin_, held);
    begin_ = 0;
    end_ = held;
    while (end_ < n) {
      const uint64_t room = std::min<uint64_t>(buffer_.size() - end_, leftInFile_);
      DWORD got = 0;
      if (room == 0 || !ReadFile(file_, buffer_.data() + end_, static_cast<DWORD>(room), &got, nullptr) ||
          got == 0) {
        return nullptr;
      }
      end_ += got;
      leftInFile_ -= got;
    }
  }
  const uint8_t* data = buffer_.data() + begin_;
  begin_ += n;
  return data;
}

}  // namespace vwma
