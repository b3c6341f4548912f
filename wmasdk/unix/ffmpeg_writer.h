// The encoding side of the Linux half: PCM in, WMA (version 2) in ASF out, through
// FFmpeg's libavformat and libavcodec. No Windows code is called from here.
#pragma once

#include <cstdint>

namespace wmaunix {

class AsfWmaWriter;

// Creates (truncates) the file; kBridge* result in *result, null on failure.
AsfWmaWriter* OpenWriter(const char* path, int32_t* result);
// The compressed format; *written is the bit rate the file will really have.
int32_t SetWriterOutput(AsfWmaWriter* w, uint32_t bitRate, uint32_t sampleRate, uint32_t channels,
                        uint32_t* written);
int32_t SetWriterInput(AsfWmaWriter* w, uint32_t sampleRate, uint32_t channels, uint32_t bits);
int32_t WritePcm(AsfWmaWriter* w, const uint8_t* data, uint32_t bytes);
int32_t FinishWriter(AsfWmaWriter* w);
void CloseWriter(AsfWmaWriter* w);

}  // namespace wmaunix
