// The decoding side of the Linux half: an ASF file's WMA stream (version 1 or 2, Pro,
// Lossless or Voice, whatever FFmpeg's decoders take) as 16-bit interleaved PCM.
#pragma once

#include "bridge.h"

#include <cstdint>

namespace wmaunix {

class AsfWmaReader;

// Opens the file and its decoder; fills the stream's description; null on failure with
// the reason in stream->open.result.
AsfWmaReader* OpenReader(const char* path, WmaBridgeStream* stream);
// Stores up to room bytes of PCM (whole sample frames) into out; *state tells what follows.
uint32_t ReadPcm(AsfWmaReader* r, uint8_t* out, uint32_t room, uint32_t* state);
void CloseReader(AsfWmaReader* r);

}  // namespace wmaunix
