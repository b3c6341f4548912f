// The chunk tree of a VQF header. A chunk is an id and a payload of bytes; a chunk is put
// into its parent by appending its record (id, 4-byte big-endian payload size, payload).
// Chunks are only ever built and appended, never read back. Integers are big-endian.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CChunk {
 public:
  // Thrown by PutInteger for a byte count outside 0..4.
  class err_FailPut {};

  explicit CChunk(const std::string& id);
  virtual ~CChunk();
  virtual std::string TypeName() const;  // "Raw"

  const std::string& Id() const { return id_; }
  const std::vector<uint8_t>& Payload() const { return payload_; }

  // Appends count bytes (nothing for a count of 0 or less). Returns 0.
  int AppendBytes(int32_t count, const uint8_t* bytes);
  int AppendBytes(const std::vector<uint8_t>& bytes);
  // Appends the text's characters, no terminator. Returns 0.
  int AppendString(const std::string& text);
  // Appends the low count bytes of value, most significant first; throws err_FailPut
  // (payload unchanged) when count, taken as unsigned, is above 4.
  void PutInteger(uint32_t value, int32_t count);
  // Appends the chunk's record: id, payload size (4 bytes), payload.
  void AppendChunk(const CChunk& chunk);

 private:
  std::string id_;
  std::vector<uint8_t> payload_;
};

// A chunk that holds other chunks (the header root, "SCND").
class CContainerChunk : public CChunk {
 public:
  explicit CContainerChunk(const std::string& id) : CChunk(id) {}
  std::string TypeName() const override;  // "Chunk"
};

// A text payload without terminator.
class CStringChunk : public CChunk {
 public:
  CStringChunk(const std::string& id, const std::string& text);
  std::string TypeName() const override;  // "String"
};

// "COMM": channel mode, bit rate, sampling rate, security level, 4 bytes each.
class CCommChunk : public CChunk {
 public:
  CCommChunk(int32_t channelMode, int32_t bitRate, int32_t samplingRate, int32_t securityLevel,
             const std::string& version);
  std::string TypeName() const override;  // "COMM"

 private:
  std::string version_;  // kept, never written
};

// One 16-bit value (2 bytes) and five 8-bit values (1 byte each).
class CEncdChunk : public CChunk {
 public:
  CEncdChunk(const std::string& id, int16_t first, int8_t a, int8_t b, int8_t c, int8_t d,
             int8_t e);
  std::string TypeName() const override;  // "ENCD"
};

// One 16-bit value (2 bytes) and one 8-bit value (1 byte).
class CYearChunk : public CChunk {
 public:
  CYearChunk(const std::string& id, int16_t year, int8_t extra);
  std::string TypeName() const override;  // "YEAR"
};

// One integer of the template type's width (int16_t: 2 bytes, int32_t: 4 bytes).
template <typename T>
class CIntegerChunk : public CChunk {
 public:
  CIntegerChunk(const std::string& id, T value);
  std::string TypeName() const override;  // "Integer, size=<width>"

 private:
  int32_t width_;
};

extern template class CIntegerChunk<int16_t>;
extern template class CIntegerChunk<int32_t>;
