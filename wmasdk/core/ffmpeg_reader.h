// The decoding side of the library: an ASF file's WMA stream (version 1 or 2, Pro,
// Lossless or Voice, whatever FFmpeg's decoders take) as 16-bit interleaved PCM, mono or
// stereo (more channels are folded down to stereo). Paths are UTF-8.
#pragma once

#include "core_result.h"

#include <cstdint>

namespace wmacore {

class AsfWmaReader;

// Opens the file and its decoder and describes the stream; null on failure with the
// reason in *result (kProtected for encrypted content).
AsfWmaReader* OpenReader(const char* path, StreamInfo* info, int32_t* result);
// Stores up to room bytes of PCM (whole sample frames) into out; *state tells what follows.
uint32_t ReadPcm(AsfWmaReader* r, uint8_t* out, uint32_t room, uint32_t* state);
// From any thread: a read in progress gives up at FFmpeg's next check, and the stream
// ends as damaged.
void StopReader(AsfWmaReader* r);
void CloseReader(AsfWmaReader* r);

}  // namespace wmacore
