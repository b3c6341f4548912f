// The chunk classes: payload building and the big-endian integer puts.
#include "chunk.h"

#include <cstdio>

CChunk::CChunk(const std::string& id) : id_(id) {}

CChunk::~CChunk() = default;

std::string CChunk::TypeName() const { return "Raw"; }

int CChunk::AppendBytes(int32_t count, const uint8_t* bytes) {
  if (count > 0) payload_.insert(payload_.end(), bytes, bytes + count);
  return 0;
}

int CChunk::AppendBytes(const std::vector<uint8_t>& bytes) {
  payload_.insert(payload_.end(), bytes.begin(), bytes.end());
  return 0;
}

int CChunk::AppendString(const std::string& text) {
  payload_.insert(payload_.end(), text.begin(), text.end());
  return 0;
}

void CChunk::PutInteger(uint32_t value, int32_t count) {
  // Compared unsigned, so a negative count is refused as well.
  if (static_cast<uint32_t>(count) > 4) throw err_FailPut();
  for (int32_t i = count - 1; i >= 0; --i) {
    payload_.push_back(static_cast<uint8_t>((value >> (8 * i)) & 0xFFu));
  }
}

void CChunk::AppendChunk(const CChunk& chunk) {
  AppendString(chunk.Id());
  PutInteger(static_cast<uint32_t>(chunk.Payload().size()), 4);
  AppendBytes(chunk.Payload());
}

std::string CContainerChunk::TypeName() const { return "Chunk"; }

CStringChunk::CStringChunk(const std::string& id, const std::string& text) : CChunk(id) {
  AppendString(text);
}

std::string CStringChunk::TypeName() const { return "String"; }

CCommChunk::CCommChunk(int32_t channelMode, int32_t bitRate, int32_t samplingRate,
                       int32_t securityLevel, const std::string& version)
    : CChunk("COMM"), version_(version) {
  PutInteger(static_cast<uint32_t>(channelMode), 4);
  PutInteger(static_cast<uint32_t>(bitRate), 4);
  PutInteger(static_cast<uint32_t>(samplingRate), 4);
  PutInteger(static_cast<uint32_t>(securityLevel), 4);
}

std::string CCommChunk::TypeName() const { return "COMM"; }

CEncdChunk::CEncdChunk(const std::string& id, int16_t first, int8_t a, int8_t b, int8_t c,
                       int8_t d, int8_t e)
    : CChunk(id) {
  PutInteger(static_cast<uint32_t>(static_cast<int32_t>(first)), 2);
  for (int8_t value : {a, b, c, d, e}) {
    PutInteger(static_cast<uint32_t>(static_cast<int32_t>(value)), 1);
  }
}

std::string CEncdChunk::TypeName() const { return "ENCD"; }

CYearChunk::CYearChunk(const std::string& id, int16_t year, int8_t extra) : CChunk(id) {
  PutInteger(static_cast<uint32_t>(static_cast<int32_t>(year)), 2);
  PutInteger(static_cast<uint32_t>(static_cast<int32_t>(extra)), 1);
}

std::string CYearChunk::TypeName() const { return "YEAR"; }

template <typename T>
CIntegerChunk<T>::CIntegerChunk(const std::string& id, T value)
    : CChunk(id), width_(static_cast<int32_t>(sizeof(T))) {
  PutInteger(static_cast<uint32_t>(static_cast<int32_t>(value)), width_);
}

template <typename T>
std::string CIntegerChunk<T>::TypeName() const {
  char text[32];
  std::snprintf(text, sizeof text, "Integer, size=%d", static_cast<int>(width_));
  return text;
}

template class CIntegerChunk<int16_t>;
template class CIntegerChunk<int32_t>;
