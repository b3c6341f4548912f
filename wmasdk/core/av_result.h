// FFmpeg's error codes as the core's results.
#pragma once

#include "core_result.h"

extern "C" {
#include <libavutil/error.h>
}

#include <cerrno>
#include <cstdint>

namespace wmacore {

inline int32_t FromAvError(int error) {
  if (error >= 0) return kOk;
  switch (error) {
    case AVERROR(ENOENT):
    case AVERROR(ENOTDIR):
    case AVERROR(EISDIR):
      return kNoFile;
    case AVERROR(EACCES):
    case AVERROR(EPERM):
    case AVERROR(EROFS):
      return kDenied;
    case AVERROR(ENOSPC):
    case AVERROR(EFBIG):
#ifdef EDQUOT  // not in the Windows C runtime
    case AVERROR(EDQUOT):
#endif
      return kDiskFull;
    case AVERROR(ENOMEM):
      return kNoMemory;
    default:
      return kFailed;
  }
}

}  // namespace wmacore
