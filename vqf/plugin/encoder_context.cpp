#include "encoder_context.h"

#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "bit_file.h"
#include "encoder_library.h"
#include "frame_writer.h"
#include "full_path.h"
#include "header_builder.h"
#include "pcm_framer.h"
#include "tvqenc_api.h"

namespace vqf {

struct EncoderContext {
  HeaderInfo header;
  EncoderTuning tuning;
  FrameIndex index;
  FrameLayout layout;     // this stream's frame layout, fetched at the open
  BitFile* bitFile;
  uint32_t frameSamples;  // frameSize x channels
  PlanarFrame frame;      // bitsPerSample, channels, frameSize, samples, filled
  std::string path;       // the file's full path at the open, to remove an unfinished file
};

namespace {

const EncoderEntryPoints& Library() { return encoderEntryPoints; }

void EncodeAndWriteFrame(EncoderContext& context) {
  Library().TvqEncodeFrame(context.frame.samples, &context.index);
  WriteFrameRecord(&context.index, &context.layout, context.bitFile);
}

// Sets the encoder up for the mode; false when the library refuses it.
bool InitializeEncoder(EncoderContext& context, uint32_t channels, uint32_t sampleRate,
                       uint32_t kbpsPerChannel) {
  Library().TvqGetVersionID(0, context.header.versionId);
  context.header.channelMode = channels == 2 ? 1 : 0;
  context.tuning.value = 16;
  context.header.samplingRate = static_cast<int32_t>(sampleRate / 1000);
  context.header.bitRate = static_cast<int32_t>(channels * kbpsPerChannel);
  return Library().TvqEncInitialize(&context.header, &context.tuning, &context.index, 1) == 0;
}

// Opens the file, takes the frame layout and writes the header; false when any step fails
// (the file, if it was created, is closed and removed again: a header that could not be
// written whole would leave a file that no reader takes).
bool StartFile(EncoderContext& context, const char* fileName, uint32_t channels) {
  context.bitFile = OpenBitFile(fileName, "wb");
  if (!context.bitFile) return false;
  FetchFrameLayout(&context.layout);
  const int32_t frameSize = Library().TvqEncGetFrameSize();
  if (frameSize > 0) {
    context.frame.frameSize = static_cast<uint32_t>(frameSize);
    context.frame.channels = channels;
    context.frameSamples = context.frame.frameSize * channels;
    context.frame.samples = new (std::nothrow) float[context.frameSamples]();
  }
  std::unique_ptr<CChunk> header;
  if (context.frame.samples) header = BuildHeader(context.header, "header_info");
  if (header) WriteHeader(context.bitFile, *header);
  if (!header || BitFileWriteFailed(context.bitFile)) {
    delete[] context.frame.samples;
    context.frame.samples = nullptr;
    CloseBitFile(context.bitFile);
    std::remove(context.path.c_str());
    return false;
  }
  return true;
}

}  // namespace

EncoderContext* OpenEncoderContext(const char* fileName, uint32_t channels, uint32_t sampleRate,
                                   uint32_t bitsPerSample, uint32_t kbpsPerChannel) noexcept {
  if ((bitsPerSample != 8 && bitsPerSample != 16) || (channels != 1 && channels != 2)) return nullptr;
  std::unique_ptr<EncoderContext> context(new (std::nothrow) EncoderContext());  // zero-filled
  if (!context) return nullptr;
  context->frame.bitsPerSample = bitsPerSample;
  try {
    context->path = FullPath(fileName);
  } catch (...) {  // out of memory: the open fails, nothing may reach the host
    return nullptr;
  }
  if (!InitializeEncoder(*context, channels, sampleRate, kbpsPerChannel)) return nullptr;
  if (!StartFile(*context, fileName, channels)) {
    // End the encoding that TvqEncInitialize began before the library may be unloaded.
    Library().TvqEncTerminate(&context->index);
    return nullptr;
  }
  return context.release();
}

bool FeedEncoderContext(EncoderContext* context, const void* data, size_t bytes) noexcept {
  if (BitFileWriteFailed(context->bitFile)) return false;  // the file is lost already
  GatherFrames(context->frame, static_cast<const uint8_t*>(data), bytes,
               [context] { EncodeAndWriteFrame(*context); });
  return !BitFileWriteFailed(context->bitFile);
}

void FinishEncoderContext(EncoderContext* context) noexcept {
  const bool failureReported = BitFileWriteFailed(context->bitFile);
  if (context->frame.filled != 0) {
    SilenceFrom(context->frame, context->frame.filled);
    EncodeAndWriteFrame(*context);
  }
  // Two silent frames end every file.
  SilenceFrom(context->frame, 0);
  EncodeAndWriteFrame(*context);
  EncodeAndWriteFrame(*context);
  Library().TvqEncTerminate(&context->index);
  // A failed write was reported by the write call that met it. The close writes the last
  // piece and the tail frames and has no result to report with: when those writes fail,
  // it removes the file rather than leave one cut short that the host takes for complete.
  if (!CloseBitFile(context->bitFile) && !failureReported) std::remove(context->path.c_str());
  delete[] context->frame.samples;
  delete context;
}

}  // namespace vqf
