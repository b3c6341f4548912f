// EncoderContext: one VQF file being written. It frames the host's PCM, has the encoder
// library encode every full frame and appends the frame records after the header.
// The encoder library must be loaded and bound while a context is open.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace vqf {

struct EncoderContext;

// The three operations are called from the plug-in's exported entry points: no exception
// leaves them (out of memory fails the open).

// Checks the sample type, sets up the encoder for the mode, creates the file and writes
// its header. Returns null, with everything undone and no file left, when any step fails.
EncoderContext* OpenEncoderContext(const char* fileName, uint32_t channels, uint32_t sampleRate,
                                   uint32_t bitsPerSample, uint32_t kbpsPerChannel) noexcept;

// Takes a block of interleaved PCM (whole sample frames). Returns false once a write to
// the file has failed: from then on the file is incomplete.
bool FeedEncoderContext(EncoderContext* context, const void* data, size_t bytes) noexcept;

// Encodes the partial frame and two silent frames, ends the encoding, closes the file and
// frees the context. A file the close could not finish is removed by the full path it
// had at the open.
void FinishEncoderContext(EncoderContext* context) noexcept;

}  // namespace vqf
