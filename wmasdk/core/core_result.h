// What the FFmpeg core of wmaudsdk.dll answers: results, the state of a reader's
// stream, and the description of an opened stream. The DLL's objects turn these into
// HRESULTs and callback statuses; the native tests use the core directly.
#pragma once

#include <cstdint>

namespace wmacore {

enum Result : int32_t {
  kOk = 0,
  kFailed = -1,       // anything else
  kNoFile = -2,       // the path cannot be opened
  kDenied = -3,       // no permission
  kDiskFull = -4,     // no room, or over the file-size limit
  kRefused = -5,      // a format or file this library does not handle
  kWrongState = -6,   // a call out of order (formats after the first write ...)
  kNoMemory = -7,
  kProtected = -8,    // the file's content is encrypted
};

// States of a reader's stream after ReadPcm.
enum StreamState : uint32_t {
  kMore = 0,     // more PCM may follow
  kEnded = 1,    // the stream ended as its header said
  kDamaged = 2,  // the stream ended early or parts of it did not decode
};

// An opened stream, as the reader delivers it: 16-bit interleaved PCM.
struct StreamInfo {
  uint32_t sampleRate = 0;
  uint32_t channels = 0;    // 1 or 2: more are folded down to stereo
  uint32_t bitRate = 0;     // bit/s of the compressed stream
  uint32_t durationMs = 0;
  int64_t samples = 0;      // per channel, as the reader expects to deliver them
};

}  // namespace wmacore
