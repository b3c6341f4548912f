// Reading VQF files: the header's chunk tree and the TwinVQ frame records after "DATA",
// decoded to 16-bit PCM by the codec core's decoder model, frame by frame.
//
// The header is the 12-byte version tag ("TWIN" and eight characters), the byte count of the
// chunk records, the records (4-byte id, big-endian 32-bit length, payload) and the marker
// "DATA". Only "COMM" matters for decoding (channels - 1, total kbps, sample-rate code, all
// big-endian 32-bit); the text, size and any other chunks are skipped.
//
// What comes out is what an independent decoder (ffmpeg's) makes of the same file: every
// whole frame record is decoded, a record with an invalid window type is skipped, the first
// two decoded frames are dropped (the codec's delay), and samples are rounded to 16 bits as
// round-to-nearest of sample x 32768, clipped. The frames are counted when the file opens,
// so the sample count is known before the first read.
//
// Portable: the standard C library's streams only.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

namespace twinvq {
class DecoderModel;
class StreamSetup;
}  // namespace twinvq

namespace vqf {

struct VqfHeader {
  int32_t channels = 0;        // 1 or 2
  int32_t kbpsPerChannel = 0;  // 8 to 48
  int32_t kHzCode = 0;         // 8, 11, 16, 22 or 44
  uint32_t sampleRate = 0;     // 8000, 11025, 16000, 22050 or 44100
  int64_t dataOffset = 0;      // byte of the file where the frame records start
};

enum class HeaderStatus {
  kOk,
  kNotVqf,       // no version tag, a damaged chunk tree, no "COMM" or no "DATA"
  kUnsupported,  // a well-formed header naming a mode the decoder does not have
};

// Reads the header from the start of file. On kOk the file is positioned at the first frame
// record and header is filled.
HeaderStatus ReadVqfHeader(std::FILE* file, VqfHeader* header);

// Whole frame records in `dataBytes` bytes of frames of `frameBits` bits each: a record is
// whole when the bytes up to its last bit are all present.
int64_t WholeFrameCount(int64_t dataBytes, int32_t frameBits);

// The frame records of an open file, one at a time, from a buffer refilled by large reads.
class FrameRecordSource {
 public:
  FrameRecordSource(std::FILE* file, int64_t dataOffset, int32_t frameBits, int64_t frames);
  // Back to the first record. False when the file cannot seek.
  bool Rewind();
  // The next record: its bytes start at *data, its first bit at bit *startBit of them.
  // False after the last whole record, or when a read fails.
  bool Next(const uint8_t** data, size_t* bytes, int64_t* startBit);

 private:
  std::FILE* file_;
  int64_t dataOffset_;
  int32_t frameBits_;
  int64_t frames_;
  int64_t next_ = 0;               // index of the next record
  std::vector<uint8_t> buffer_;
  size_t filled_ = 0;              // valid bytes in buffer_
  int64_t bufferStartBit_ = 0;     // stream bit of buffer_[0]'s first bit
};

class VqfDecoder {
 public:
  VqfDecoder();
  ~VqfDecoder();
  VqfDecoder(const VqfDecoder&) = delete;
  VqfDecoder& operator=(const VqfDecoder&) = delete;

  // Takes the file in any case (closes it when done or on failure). Reads the header and
  // counts the records that decode.
  HeaderStatus Open(std::FILE* file);

  const VqfHeader& header() const { return header_; }
  // Sample frames (one sample per channel) that Read delivers in all.
  uint64_t totalSampleFrames() const { return totalSampleFrames_; }

  // Up to `count` sample frames of interleaved 16-bit PCM; fewer only at the end (or when
  // the file fails to read: then what was delivered is all there is).
  size_t Read(int16_t* out, size_t count);

 private:
  // Decodes the next frame into pcm_, or with `direct` into that array (a whole frame).
  bool DecodeNextFrame(int16_t* direct = nullptr);

  std::FILE* file_ = nullptr;
  VqfHeader header_;
  std::unique_ptr<twinvq::StreamSetup> setup_;
  std::unique_ptr<twinvq::DecoderModel> model_;
  std::unique_ptr<FrameRecordSource> records_;
  std::vector<float> spectrum_, samples_;
  std::vector<int16_t> pcm_;       // the current frame's output
  size_t pcmPosition_ = 0;         // next sample of pcm_ to deliver
  int32_t dropped_ = 0;            // decoded frames dropped so far (the first two)
  uint64_t totalSampleFrames_ = 0;
  uint64_t delivered_ = 0;
};

// One float sample in full-scale units as a 16-bit sample: nearest, ties to even, clipped.
int16_t ToPcm16(float sample);
// The same for count samples.
void ToPcm16(const float* in, size_t count, int16_t* out);

}  // namespace vqf
