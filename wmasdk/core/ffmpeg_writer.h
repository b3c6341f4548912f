// The encoding side of the library: PCM in, WMA (version 2) in ASF out, through
// FFmpeg's libavformat and libavcodec. Paths are UTF-8 (FFmpeg's file protocol
// opens them with the wide-character calls on Windows).
#pragma once

#include <cstdint>

namespace wmacore {

class AsfWmaWriter;

// Creates (truncates) the file; a Result in *result, null on failure.
AsfWmaWriter* OpenWriter(const char* path, int32_t* result);
// The compressed format; *written is the bit rate the file will really have.
int32_t SetWriterOutput(AsfWmaWriter* w, uint32_t bitRate, uint32_t sampleRate, uint32_t channels,
                        uint32_t* written);
int32_t SetWriterInput(AsfWmaWriter* w, uint32_t sampleRate, uint32_t channels, uint32_t bits);
int32_t WritePcm(AsfWmaWriter* w, const uint8_t* data, uint32_t bytes);
int32_t FinishWriter(AsfWmaWriter* w);
void CloseWriter(AsfWmaWriter* w);

}  // namespace wmacore
