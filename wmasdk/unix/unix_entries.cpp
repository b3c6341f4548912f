// The Linux half's entry table: wine calls __wine_unix_call_funcs[code](args) when the
// Windows half dispatches call `code` (bridge.h) with the address of its record.
// Nothing here calls back into Windows code, and FFmpeg is kept from starting threads.
#include "bridge.h"
#include "ffmpeg_reader.h"
#include "ffmpeg_writer.h"

#include <cstdint>

namespace {

using wmaunix::AsfWmaReader;
using wmaunix::AsfWmaWriter;

typedef int32_t NtStatus;  // every entry answers 0; results travel in the records
constexpr NtStatus kSuccess = 0;

template <class T>
T* Object(uint64_t handle) {
  return reinterpret_cast<T*>(static_cast<uintptr_t>(handle));
}
uint64_t Handle(const void* p) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p)); }
const char* Text(uint64_t address) { return reinterpret_cast<const char*>(static_cast<uintptr_t>(address)); }
uint8_t* Bytes(uint64_t address) { return reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(address)); }

NtStatus WriterOpen(void* args) {
  auto* a = static_cast<WmaBridgeOpen*>(args);
  a->object = Handle(wmaunix::OpenWriter(Text(a->unixPath), &a->result));
  return kSuccess;
}

NtStatus WriterOutput(void* args) {
  auto* a = static_cast<WmaBridgeWriterOutput*>(args);
  a->result = wmaunix::SetWriterOutput(Object<AsfWmaWriter>(a->object), a->bitRate, a->sampleRate,
                                       a->channels, &a->writtenBitRate);
  return kSuccess;
}

NtStatus WriterInput(void* args) {
  auto* a = static_cast<WmaBridgeWriterInput*>(args);
  a->result = wmaunix::SetWriterInput(Object<AsfWmaWriter>(a->object), a->sampleRate, a->channels,
                                      a->bitsPerSample);
  return kSuccess;
}

NtStatus WriterWrite(void* args) {
  auto* a = static_cast<WmaBridgeData*>(args);
  a->result = wmaunix::WritePcm(Object<AsfWmaWriter>(a->object), Bytes(a->data), a->bytes);
  return kSuccess;
}

NtStatus WriterFinish(void* args) {
  auto* a = static_cast<WmaBridgeObject*>(args);
  a->result = wmaunix::FinishWriter(Object<AsfWmaWriter>(a->object));
  return kSuccess;
}

NtStatus WriterClose(void* args) {
  auto* a = static_cast<WmaBridgeObject*>(args);
  wmaunix::CloseWriter(Object<AsfWmaWriter>(a->object));
  a->result = kBridgeOk;
  return kSuccess;
}

NtStatus ReaderOpen(void* args) {
  auto* a = static_cast<WmaBridgeStream*>(args);
  a->open.object = Handle(wmaunix::OpenReader(Text(a->open.unixPath), a));
  return kSuccess;
}

NtStatus ReaderNext(void* args) {
  auto* a = static_cast<WmaBridgeData*>(args);
  a->bytes = wmaunix::ReadPcm(Object<AsfWmaReader>(a->object), Bytes(a->data), a->bytes, &a->state);
  a->result = kBridgeOk;
  return kSuccess;
}

NtStatus ReaderClose(void* args) {
  auto* a = static_cast<WmaBridgeObject*>(args);
  wmaunix::CloseReader(Object<AsfWmaReader>(a->object));
  a->result = kBridgeOk;
  return kSuccess;
}

}  // namespace

typedef NtStatus (*UnixEntry)(void* args);

extern "C" __attribute__((visibility("default"))) const UnixEntry __wine_unix_call_funcs[] = {
    WriterOpen, WriterOutput, WriterInput, WriterWrite, WriterFinish,
    WriterClose, ReaderOpen, ReaderNext, ReaderClose,
};

static_assert(sizeof(__wine_unix_call_funcs) / sizeof(__wine_unix_call_funcs[0]) == kBridgeCallCount,
              "one entry per bridge call, in the order of bridge.h");
