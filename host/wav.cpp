#include "wav.h"

#include <cstring>

namespace wav {
namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatExtensible = 0xFFFE;
// A data size of all ones marks a WAV written as a stream: the data runs to the end.
constexpr uint32_t kStreamedSize = 0xFFFFFFFFu;

uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
void PutLe16(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
void PutLe32(uint8_t* p, uint32_t v) {
  PutLe16(p, v);
  PutLe16(p + 2, v >> 16);
}

// 64-bit file positions: a WAV may pass the 2 GiB a 32-bit long can address.
int64_t Tell(std::FILE* f) {
#ifdef _WIN32
  return _ftelli64(f);
#else
  return ftello(f);
#endif
}
bool Seek(std::FILE* f, int64_t offset, int origin) {
#ifdef _WIN32
  return _fseeki64(f, offset, origin) == 0;
#else
  return fseeko(f, off_t(offset), origin) == 0;
#endif
}

bool ReadExactly(std::FILE* f, void* buffer, size_t bytes) {
  return std::fread(buffer, 1, bytes, f) == bytes;
}

}  // namespace

Reader::~Reader() {
  if (file_) std::fclose(file_);
}

Status Reader::Fail(Status status, const std::string& message) {
  error_ = message;
  return status;
}

Status Reader::Open(const std::string& path) {
  file_ = std::fopen(path.c_str(), "rb");
  if (!file_) return Fail(Status::CannotOpen, "cannot open the file");
  if (!Seek(file_, 0, SEEK_END)) return Fail(Status::IoError, "cannot seek in the file");
  const int64_t fileBytes = Tell(file_);
  if (fileBytes < 0 || !Seek(file_, 0, SEEK_SET)) return Fail(Status::IoError, "cannot seek in the file");

  uint8_t riff[12];
  if (!ReadExactly(file_, riff, sizeof riff) || std::memcmp(riff, "RIFF", 4) != 0 ||
      std::memcmp(riff + 8, "WAVE", 4) != 0)
    return Fail(Status::NotWave, "not a RIFF WAVE file");

  // Walk the chunks; "fmt " must come before "data". Chunks are padded to even sizes.
  for (;;) {
    uint8_t header[8];
    if (!ReadExactly(file_, header, sizeof header))
      return Fail(Status::NotWave, haveFormat_ ? "no data chunk" : "no fmt chunk");
    const uint32_t chunkBytes = Le32(header + 4);
    if (std::memcmp(header, "fmt ", 4) == 0) {
      const Status status = ReadFormat(chunkBytes);
      if (status != Status::Ok) return status;
    } else if (std::memcmp(header, "data", 4) == 0) {
      if (!haveFormat_) return Fail(Status::NotWave, "data chunk before the fmt chunk");
      const int64_t available = fileBytes - Tell(file_);
      uint64_t bytes = chunkBytes;
      if (chunkBytes == kStreamedSize) {
        bytes = uint64_t(available);
        if (bytes > kMaxDataBytes) return Fail(Status::Unsupported, "data longer than a WAV can hold");
      } else if (int64_t(chunkBytes) > available) {
        return Fail(Status::Truncated, "data chunk announces " + std::to_string(chunkBytes) +
                                           " bytes but the file holds " + std::to_string(available));
      }
      const uint32_t frame = format_.BytesPerFrame();
      droppedBytes_ = uint32_t(bytes % frame);
      dataBytes_ = uint32_t(bytes - droppedBytes_);
      remaining_ = dataBytes_;
      return Status::Ok;
    } else if (!Seek(file_, int64_t(chunkBytes) + (chunkBytes & 1u), SEEK_CUR)) {
      return Fail(Status::NotWave, "broken chunk structure");
    }
  }
}

Status Reader::ReadFormat(uint32_t chunkBytes) {
  if (chunkBytes < 16 || chunkBytes > 1024) return Fail(Status::NotWave, "bad fmt chunk size");
  uint8_t fmt[1024];
  const uint32_t padded = chunkBytes + (chunkBytes & 1u);
  if (!ReadExactly(file_, fmt, chunkBytes) || (padded != chunkBytes && !Seek(file_, 1, SEEK_CUR)))
    return Fail(Status::NotWave, "truncated fmt chunk");
  uint16_t tag = Le16(fmt);
  const uint16_t channels = Le16(fmt + 2);
  const uint32_t rate = Le32(fmt + 4);
  const uint16_t blockAlign = Le16(fmt + 12);
  const uint16_t bits = Le16(fmt + 14);
  if (tag == kFormatExtensible) {
    // The sub-format GUID's first two bytes hold the plain format tag.
    if (chunkBytes < 40) return Fail(Status::NotWave, "short WAVE_FORMAT_EXTENSIBLE fmt chunk");
    tag = Le16(fmt + 24);
  }
  if (tag != kFormatPcm)
    return Fail(Status::Unsupported, "format tag " + std::to_string(tag) + " is not integer PCM");
  if (bits != 8 && bits != 16)
    return Fail(Status::Unsupported, std::to_string(bits) + "-bit samples (only 8 and 16 are supported)");
  if (channels == 0 || rate == 0) return Fail(Status::NotWave, "fmt chunk with no channels or no rate");
  format_.sampleRate = rate;
  format_.bitsPerSample = bits;
  format_.channels = channels;
  if (blockAlign != format_.BytesPerFrame()) return Fail(Status::NotWave, "block align does not match the format");
  haveFormat_ = true;
  return Status::Ok;
}

size_t Reader::Read(void* buffer, size_t bytes) {
  if (bytes > remaining_) bytes = remaining_;
  const size_t got = std::fread(buffer, 1, bytes, file_);
  remaining_ -= uint32_t(got);
  if (got < bytes) error_ = "read error";
  return got;
}

Writer::~Writer() {
  if (file_) std::fclose(file_);
}

Status Writer::Fail(Status status, const std::string& message) {
  error_ = message;
  return status;
}

Status Writer::Open(const std::string& path, const Format& format) {
  file_ = std::fopen(path.c_str(), "wb");
  if (!file_) return Fail(Status::CannotOpen, "cannot create the file");
  uint8_t h[44] = {};
  std::memcpy(h, "RIFF", 4);
  std::memcpy(h + 8, "WAVEfmt ", 8);
  PutLe32(h + 16, 16);
  PutLe16(h + 20, kFormatPcm);
  PutLe16(h + 22, format.channels);
  PutLe32(h + 24, format.sampleRate);
  PutLe32(h + 28, format.sampleRate * format.BytesPerFrame());
  PutLe16(h + 32, format.BytesPerFrame());
  PutLe16(h + 34, format.bitsPerSample);
  std::memcpy(h + 36, "data", 4);
  if (std::fwrite(h, 1, sizeof h, file_) != sizeof h) return Fail(Status::IoError, "write error");
  return Status::Ok;
}

Status Writer::Write(const void* data, size_t bytes) {
  if (dataBytes_ + bytes > kMaxDataBytes) return Fail(Status::IoError, "data longer than a WAV can hold");
  if (std::fwrite(data, 1, bytes, file_) != bytes) return Fail(Status::IoError, "write error");
  dataBytes_ += bytes;
  return Status::Ok;
}

Status Writer::Finish() {
  const uint32_t data = uint32_t(dataBytes_);
  bool ok = !(data & 1u) || std::fputc(0, file_) != EOF;
  uint8_t size[4];
  PutLe32(size, 36 + data + (data & 1u));
  ok = ok && Seek(file_, 4, SEEK_SET) && std::fwrite(size, 1, 4, file_) == 4;
  PutLe32(size, data);
  ok = ok && Seek(file_, 40, SEEK_SET) && std::fwrite(size, 1, 4, file_) == 4;
  ok = (std::fclose(file_) == 0) && ok;
  file_ = nullptr;
  return ok ? Status::Ok : Fail(Status::IoError, "write error");
}

}  // namespace wav
