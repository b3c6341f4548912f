// A small reader and writer of RIFF WAVE files holding integer PCM: the host's own
// file format on both sides of a plug-in. Portable C++ over stdio, no Windows calls.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace wav {

struct Format {
  uint32_t sampleRate = 0;
  uint16_t bitsPerSample = 0;
  uint16_t channels = 0;
  uint32_t BytesPerFrame() const { return uint32_t(channels) * ((bitsPerSample + 7u) / 8u); }
};

enum class Status {
  Ok,
  CannotOpen,    // the file could not be opened
  NotWave,       // no RIFF/WAVE signature, or the chunk structure is broken
  Unsupported,   // a well-formed WAV in an encoding the plug-ins do not take
  Truncated,     // the data chunk announces more bytes than the file holds
  IoError,       // a read or write of the file failed
};

// The largest data chunk a RIFF file can describe with its 32-bit sizes.
constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - 36u;

// Reads the PCM data of a WAV file. Accepts format tag 1 (PCM) and WAVE_FORMAT_EXTENSIBLE
// with the PCM sub-format, 8 or 16 bits, 1 to 65535 channels.
class Reader {
 public:
  Reader() = default;
  ~Reader();
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // Opens the file and walks its chunks up to "data". On failure, Error() says why.
  Status Open(const std::string& path);

  const Format& format() const { return format_; }
  // Whole frames of data, in bytes. A partial frame at the end is left out (see DroppedBytes).
  uint32_t DataBytes() const { return dataBytes_; }
  uint32_t DroppedBytes() const { return droppedBytes_; }
  const std::string& Error() const { return error_; }

  // Reads up to `bytes` bytes of sample data; returns the count read (less only at the end
  // of the data or on a read error, which sets Error()).
  size_t Read(void* buffer, size_t bytes);

 private:
  Status Fail(Status status, const std::string& message);
  Status ReadFormat(uint32_t chunkBytes);

  std::FILE* file_ = nullptr;
  Format format_;
  bool haveFormat_ = false;
  uint32_t dataBytes_ = 0;
  uint32_t droppedBytes_ = 0;
  uint32_t remaining_ = 0;
  std::string error_;
};

// Writes a canonical 44-byte-header PCM WAV. The sizes are patched by Finish().
class Writer {
 public:
  Writer() = default;
  ~Writer();
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  Status Open(const std::string& path, const Format& format);
  // Appends sample data; fails with IoError once the total would pass kMaxDataBytes.
  Status Write(const void* data, size_t bytes);
  // Pads an odd data chunk, writes the final sizes and closes the file.
  Status Finish();

  uint64_t DataBytes() const { return dataBytes_; }
  const std::string& Error() const { return error_; }

 private:
  Status Fail(Status status, const std::string& message);

  std::FILE* file_ = nullptr;
  uint64_t dataBytes_ = 0;
  std::string error_;
};

}  // namespace wav
