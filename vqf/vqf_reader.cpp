#include "vqf_reader.h"

#include <algorithm>
#include <cmath>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cstring>

#include "decoder_model.h"
#include "frame_bits.h"
#include "stream_setup.h"

namespace vqf {
namespace {

constexpr size_t kReadBytes = 64 * 1024;  // file bytes per refill of the record buffer

struct RateCode {
  int32_t kHzCode;
  uint32_t hertz;
};
constexpr RateCode kRateCodes[] = {{8, 8000}, {11, 11025}, {16, 16000}, {22, 22050}, {44, 44100}};

// 64-bit positions, so that no file size is cut to the C library's long.
bool Seek(std::FILE* file, int64_t offset, int origin) {
#ifdef _WIN32
  return _fseeki64(file, offset, origin) == 0;
#else
  return fseeko(file, static_cast<off_t>(offset), origin) == 0;
#endif
}

int64_t Tell(std::FILE* file) {
#ifdef _WIN32
  return _ftelli64(file);
#else
  return static_cast<int64_t>(ftello(file));
#endif
}

bool ReadExactly(std::FILE* file, void* out, size_t bytes) {
  return std::fread(out, 1, bytes, file) == bytes;
}

bool ReadBig32(std::FILE* file, uint32_t* value) {
  uint8_t b[4];
  if (!ReadExactly(file, b, 4)) return false;
  *value = uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
  return true;
}

// The three values of a "COMM" payload that decoding needs; signed, as written.
struct CommonChunk {
  int32_t channelCode = -1, kbpsTotal = 0, kHzCode = 0;
};

bool ReadCommonChunk(std::FILE* file, uint32_t length, CommonChunk* comm) {
  uint32_t v[3];
  if (length < 12) return false;
  for (uint32_t& x : v) {
    if (!ReadBig32(file, &x)) return false;
  }
  comm->channelCode = static_cast<int32_t>(v[0]);
  comm->kbpsTotal = static_cast<int32_t>(v[1]);
  comm->kHzCode = static_cast<int32_t>(v[2]);
  return Seek(file, length - 12, SEEK_CUR);
}

// The header's values for a "COMM" chunk, or kUnsupported.
HeaderStatus Interpret(const CommonChunk& comm, VqfHeader* header) {
  // The code is 0 (mono) or 1 (stereo); checked first, as any other value + 1 may overflow.
  if (comm.channelCode != 0 && comm.channelCode != 1) return HeaderStatus::kUnsupported;
  const int32_t channels = comm.channelCode + 1;
  if (comm.kbpsTotal <= 0 || comm.kbpsTotal % channels != 0)
    return HeaderStatus::kUnsupported;
  const RateCode* rate = std::find_if(std::begin(kRateCodes), std::end(kRateCodes),
                                      [&](const RateCode& r) { return r.kHzCode == comm.kHzCode; });
  if (rate == std::end(kRateCodes)) return HeaderStatus::kUnsupported;
  twinvq::StreamSetup setup;
  if (!setup.Init(comm.kHzCode, comm.kbpsTotal / channels, channels)) return HeaderStatus::kUnsupported;
  header->channels = channels;
  header->kbpsPerChannel = comm.kbpsTotal / channels;
  header->kHzCode = comm.kHzCode;
  header->sampleRate = rate->hertz;
  return HeaderStatus::kOk;
}

}  // namespace

HeaderStatus ReadVqfHeader(std::FILE* file, VqfHeader* header) {
  char version[12];
  uint32_t recordBytes;
  if (!file || !Seek(file, 0, SEEK_SET) || !ReadExactly(file, version, sizeof version) ||
      std::memcmp(version, "TWIN", 4) != 0 || !ReadBig32(file, &recordBytes) ||
      recordBytes > 0x7FFFFFFFu)
    return HeaderStatus::kNotVqf;

  // Each record takes at least 8 of the announced bytes, so the walk ends.
  int64_t remaining = recordBytes;
  bool haveComm = false;
  CommonChunk comm;
  for (;;) {
    char id[4];
    uint32_t length;
    if (!ReadExactly(file, id, 4)) return HeaderStatus::kNotVqf;
    if (std::memcmp(id, "DATA", 4) == 0) break;
    if (!ReadBig32(file, &length) || remaining < 8) return HeaderStatus::kNotVqf;
    remaining -= 8;
    if (length > remaining) return HeaderStatus::kNotVqf;
    remaining -= length;
    if (std::memcmp(id, "COMM", 4) == 0) {
      if (!ReadCommonChunk(file, length, &comm)) return HeaderStatus::kNotVqf;
      haveComm = true;
    } else if (!Seek(file, length, SEEK_CUR)) {
      return HeaderStatus::kNotVqf;
    }
  }
  if (!haveComm) return HeaderStatus::kNotVqf;
  const HeaderStatus status = Interpret(comm, header);
  if (status != HeaderStatus::kOk) return status;
  header->dataOffset = Tell(file);
  return header->dataOffset < 0 ? HeaderStatus::kNotVqf : HeaderStatus::kOk;
}

int64_t WholeFrameCount(int64_t dataBytes, int32_t frameBits) {
  if (dataBytes <= 0 || frameBits <= 0) return 0;
  return dataBytes * 8 / frameBits;
}

FrameRecordSource::FrameRecordSource(std::FILE* file, int64_t dataOffset, int32_t frameBits,
                                     int64_t frames)
    : file_(file), dataOffset_(dataOffset), frameBits_(frameBits), frames_(frames),
      buffer_(std::max(kReadBytes, size_t(frameBits) / 8 * 2 + 16)) {}

bool FrameRecordSource::Rewind() {
  next_ = 0;
  filled_ = 0;
  bufferStartBit_ = 0;
  return Seek(file_, dataOffset_, SEEK_SET);
}

bool FrameRecordSource::Next(const uint8_t** data, size_t* bytes, int64_t* startBit) {
  if (next_ >= frames_) return false;
  const int64_t start = next_ * frameBits_;
  const int64_t firstByte = start / 8;
  const int64_t endByte = (start + frameBits_ + 7) / 8;
  const int64_t bufferFirstByte = bufferStartBit_ / 8;
  if (endByte - bufferFirstByte > int64_t(filled_)) {
    // Keep the bytes from this record's first on, then fill up the rest of the buffer.
    const size_t drop = static_cast<size_t>(std::min<int64_t>(firstByte - bufferFirstByte, int64_t(filled_)));
    std::memmove(buffer_.data(), buffer_.data() + drop, filled_ - drop);
    filled_ -= drop;
    bufferStartBit_ = firstByte * 8;
    filled_ += std::fread(buffer_.data() + filled_, 1, buffer_.size() - filled_, file_);
    if (endByte - firstByte > int64_t(filled_)) return false;
  }
  *data = buffer_.data();
  *bytes = filled_;
  *startBit = start - bufferStartBit_;
  ++next_;
  return true;
}

int16_t ToPcm16(float sample) {
  const float x = sample * 32768.0f;
  if (!(x > -32768.0f)) return -32768;  // NaN too, as a clipped conversion gives it
  if (x >= 32767.0f) return 32767;
#if defined(__SSE2__)
  // The processor's conversion rounds to nearest, ties to even, as lrint does by default,
  // without the library call that the Windows runtime makes of lrint.
  return static_cast<int16_t>(_mm_cvtss_si32(_mm_set_ss(x)));
#else
  return static_cast<int16_t>(std::lrint(x));
#endif
}

void ToPcm16(const float* in, size_t count, int16_t* out) {
  size_t i = 0;
#if defined(__SSE2__)
  // Four at a time: clipped in float first (max before min, so that NaN gives the low
  // clip as above), then converted with the same rounding and packed.
  const __m128 scale = _mm_set1_ps(32768.0f), low = _mm_set1_ps(-32768.0f), high = _mm_set1_ps(32767.0f);
  for (; i + 8 <= count; i += 8) {
    const __m128 a = _mm_min_ps(_mm_max_ps(_mm_mul_ps(_mm_loadu_ps(in + i), scale), low), high);
    const __m128 b = _mm_min_ps(_mm_max_ps(_mm_mul_ps(_mm_loadu_ps(in + i + 4), scale), low), high);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                     _mm_packs_epi32(_mm_cvtps_epi32(a), _mm_cvtps_epi32(b)));
  }
#endif
  for (; i < count; ++i) out[i] = ToPcm16(in[i]);
}

VqfDecoder::VqfDecoder() = default;

VqfDecoder::~VqfDecoder() {
  if (file_) std::fclose(file_);
}

HeaderStatus VqfDecoder::Open(std::FILE* file) {
  file_ = file;
  const HeaderStatus status = ReadVqfHeader(file, &header_);
  if (status != HeaderStatus::kOk) return status;
  setup_ = std::make_unique<twinvq::StreamSetup>();
  setup_->Init(header_.kHzCode, header_.kbpsPerChannel, header_.channels);
  if (!Seek(file, 0, SEEK_END)) return HeaderStatus::kNotVqf;
  const int64_t frames = WholeFrameCount(Tell(file) - header_.dataOffset, setup_->frameBits());
  records_ = std::make_unique<FrameRecordSource>(file, header_.dataOffset, setup_->frameBits(), frames);

  // Count the records whose window type decodes (0..8): the others are skipped.
  if (!records_->Rewind()) return HeaderStatus::kNotVqf;
  int64_t decodable = 0;
  const uint8_t* data;
  size_t bytes;
  int64_t startBit;
  while (records_->Next(&data, &bytes, &startBit)) {
    twinvq::BitReader reader(data, bytes, startBit);
    int32_t windowType;
    if (reader.Get(twinvq::kWindowTypeBits, &windowType) && windowType < twinvq::kWindowTypeCount)
      ++decodable;
  }
  totalSampleFrames_ = decodable > 2 ? uint64_t(decodable - 2) * uint64_t(setup_->frameSize()) : 0;
  if (!records_->Rewind()) return HeaderStatus::kNotVqf;

  model_ = std::make_unique<twinvq::DecoderModel>(*setup_);
  const size_t frameSamples = size_t(setup_->frameSize()) * size_t(header_.channels);
  spectrum_.resize(frameSamples);
  samples_.resize(frameSamples);
  pcm_.reserve(frameSamples);
  return HeaderStatus::kOk;
}

bool VqfDecoder::DecodeNextFrame(int16_t* direct) {
  const uint8_t* data;
  size_t bytes;
  int64_t startBit;
  while (records_->Next(&data, &bytes, &startBit)) {
    twinvq::BitReader reader(data, bytes, startBit);
    twinvq::FrameValues values;
    if (!twinvq::ReadFrame(*setup_, &reader, &values)) continue;  // an invalid window type
    model_->DecodeSpectrum(values, spectrum_.data());
    model_->Synthesize(values.windowType, spectrum_.data(), samples_.data());
    if (dropped_ < 2) {
      ++dropped_;
      continue;
    }
    if (direct) {
      ToPcm16(samples_.data(), samples_.size(), direct);
      pcm_.clear();
    } else {
      pcm_.resize(samples_.size());
      ToPcm16(samples_.data(), samples_.size(), pcm_.data());
    }
    pcmPosition_ = 0;
    return true;
  }
  return false;
}

size_t VqfDecoder::Read(int16_t* out, size_t count) {
  if (!model_ || !out) return 0;
  const size_t channels = size_t(header_.channels);
  count = static_cast<size_t>(std::min<uint64_t>(count, totalSampleFrames_ - delivered_));
  size_t done = 0;
  while (done < count) {
    if (pcmPosition_ == pcm_.size()) {
      // A whole frame that fits goes straight to the caller, without a copy.
      if (count - done >= samples_.size() / channels) {
        if (!DecodeNextFrame(out + done * channels)) break;
        done += samples_.size() / channels;
        continue;
      }
      if (!DecodeNextFrame()) break;
    }
    const size_t n = std::min((pcm_.size() - pcmPosition_) / channels, count - done);
    std::copy_n(pcm_.begin() + std::ptrdiff_t(pcmPosition_), n * channels, out + done * channels);
    pcmPosition_ += n * channels;
    done += n;
  }
  delivered_ += done;
  return done;
}

}  // namespace vqf
