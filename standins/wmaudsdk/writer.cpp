// The writer: keeps the container header in memory, appends PCM after a placeholder
// header, and writes the real header only at Finish. An unfinished file keeps the
// 0xFFFFFFFF byte count, so readers refuse it.
#include "creators.h"

#include "container.h"
#include "environment.h"
#include "object_ops.h"

#include <cstring>
#include <new>

namespace vwma {
namespace {

struct WriterObject : WmaWriter {
  LONG refs = 1;
  Trace trace;
  WriterSwitches switches;
  HANDLE file = INVALID_HANDLE_VALUE;
  ContainerHeader header;
  bool outputSet = false;
  bool inputSet = false;
  bool finished = false;
  uint32_t writeCalls = 0;

  ~WriterObject() {
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
};

static_assert(sizeof(WAVEFORMATEX) == kPcmFormatSize, "the record is stored as given");

WriterObject* Self(WmaWriter* w) { return static_cast<WriterObject*>(w); }

bool WriteAll(HANDLE file, const void* data, DWORD bytes) {
  DWORD written = 0;
  return WriteFile(file, data, bytes, &written, nullptr) && written == bytes;
}

bool WriteHeaderAt0(WriterObject* w) {
  uint8_t bytes[kHeaderSize];
  EncodeHeader(w->header, bytes);
  LARGE_INTEGER zero{};
  return SetFilePointerEx(w->file, zero, nullptr, FILE_BEGIN) && WriteAll(w->file, bytes, sizeof bytes);
}

// Formats are fixed once PCM has been stored or the file is finished.
bool FormatsLocked(const WriterObject* w) { return w->finished || w->header.pcmBytes != 0; }

HRESULT WINAPI SetInputFormat(WmaWriter* self, const WAVEFORMATEX* pcm) {
  WriterObject* w = Self(self);
  if (!pcm) {
    w->trace.Line("SetInputFormat null");
    return E_POINTER;
  }
  uint8_t bytes[kPcmFormatSize];
  std::memcpy(bytes, pcm, sizeof bytes);
  const PcmFormat f = DecodePcmFormat(bytes);
  w->trace.Line("SetInputFormat %u %u %u %u %u %u %u", f.formatTag, f.channels, f.samplesPerSec,
                f.avgBytesPerSec, f.blockAlign, f.bitsPerSample, f.extraSize);
  if (w->switches.refuseInput || FormatsLocked(w)) return E_FAIL;
  if (!IsAcceptedPcm(f)) return E_INVALIDARG;
  std::memcpy(w->header.pcmFormat, bytes, sizeof bytes);
  w->inputSet = true;
  return S_OK;
}

HRESULT WINAPI SetOutputFormat(WmaWriter* self, DWORD bitRate, DWORD sampleRate, DWORD channels,
                               DWORD reserved) {
  WriterObject* w = Self(self);
  w->trace.Line("SetOutputFormat %lu %lu %lu %lu", static_cast<unsigned long>(bitRate),
                static_cast<unsigned long>(sampleRate), static_cast<unsigned long>(channels),
                static_cast<unsigned long>(reserved));
  if (w->switches.refuseOutput || FormatsLocked(w)) return E_FAIL;
  if (!IsOfferedEncoding(bitRate, sampleRate, channels)) return E_INVALIDARG;
  w->header.bitRate = bitRate;
  w->header.sampleRate = sampleRate;
  w->header.channels = channels;
  w->outputSet = true;
  return S_OK;
}

HRESULT WINAPI Write(WmaWriter* self, const void* data, DWORD bytes) {
  WriterObject* w = Self(self);
  w->trace.Line("Write %lu", static_cast<unsigned long>(bytes));
  const uint32_t call = ++w->writeCalls;
  if (w->switches.refuseWrite == call) return E_FAIL;
  if (!w->outputSet || !w->inputSet || w->finished) return E_UNEXPECTED;
  if (bytes == 0) return S_OK;
  if (!data) return E_POINTER;
  // The byte count must stay below the unfinished marker.
  if (uint64_t{w->header.pcmBytes} + bytes >= kUnfinished) return E_OUTOFMEMORY;
  if (!WriteAll(w->file, data, bytes)) {
    const HRESULT result = FromLastError();
    // Cut off whatever part of the block reached the file, so the file stays consistent.
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(kHeaderSize + uint64_t{w->header.pcmBytes});
    SetFilePointerEx(w->file, end, nullptr, FILE_BEGIN);
    SetEndOfFile(w->file);
    return result;
  }
  w->header.pcmBytes += bytes;
  return S_OK;
}

HRESULT WINAPI Finish(WmaWriter* self) {
  WriterObject* w = Self(self);
  w->trace.Line("Finish");
  if (!w->outputSet || !w->inputSet) return E_UNEXPECTED;
  if (w->finished) return S_OK;
  uint8_t pcm[kPcmFormatSize];
  std::memcpy(pcm, w->header.pcmFormat, sizeof pcm);
  w->header.durationMs = DurationMs(w->header.pcmBytes, DecodePcmFormat(pcm).avgBytesPerSec);
  if (!WriteHeaderAt0(w)) {
    const HRESULT result = FromLastError();
    w->header.pcmBytes = kUnfinished;  // leave a header readers refuse, if anything can be written
    WriteHeaderAt0(w);
    w->finished = true;
    return result;
  }
  w->finished = true;
  return S_OK;
}

const WmaWriterOps kWriterOps = {
    NoInterface<WmaWriter>,
    AddRefObject<WriterObject, WmaWriter>,
    ReleaseObject<WriterObject, WmaWriter>,
    NotImplemented,
    SetInputFormat,
    SetOutputFormat,
    NotImplemented,
    Write,
    Finish,
};

}  // namespace

HRESULT CreateWriter(const WCHAR* path, WmaWriter** writer) {
  Environment env;
  const Trace trace(env.Get("VELL_WMA_TRACE"));
  if (!path || !writer) return E_POINTER;
  if (ReadCreateFailures(Environment::Lookup, &env) & kCreateWriter) return E_FAIL;

  HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return FromLastError();

  auto* w = new (std::nothrow) WriterObject;
  if (!w) {
    CloseHandle(file);
    return E_OUTOFMEMORY;
  }
  w->ops = &kWriterOps;
  w->trace = trace;
  w->switches = ReadWriterSwitches(Environment::Lookup, &env);
  w->file = file;
  w->header.pcmBytes = 0;

  // Placeholder header: magic and size, with the unfinished marker until Finish.
  ContainerHeader placeholder;
  uint8_t bytes[kHeaderSize];
  EncodeHeader(placeholder, bytes);
  if (!WriteAll(file, bytes, sizeof bytes)) {
    const HRESULT result = FromLastError();
    delete w;
    return result;
  }
  *writer = w;
  return S_OK;
}

}  // namespace vwma
