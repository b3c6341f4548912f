// FFmpeg's error codes as the bridge's results.
#pragma once

#include "bridge.h"

extern "C" {
#include <libavutil/error.h>
}

#include <cerrno>
#include <cstdint>

namespace wmaunix {

inline int32_t FromAvError(int error) {
  if (error >= 0) return kBridgeOk;
  switch (error) {
    case AVERROR(ENOENT):
    case AVERROR(ENOTDIR):
    case AVERROR(EISDIR):
      return kBridgeNoFile;
    case AVERROR(EACCES):
    case AVERROR(EPERM):
    case AVERROR(EROFS):
      return kBridgeDenied;
    case AVERROR(ENOSPC):
    case AVERROR(EFBIG):
    case AVERROR(EDQUOT):
      return kBridgeDiskFull;
    case AVERROR(ENOMEM):
      return kBridgeNoMemory;
    default:
      return kBridgeFailed;
  }
}

}  // namespace wmaunix
