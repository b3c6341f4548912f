// A stand-in for TVQENC.DLL used by the tests and the benchmark: it forwards every call
// to the real library (tvqenc_real.dll beside it), counts the calls, times them, and keeps
// the samples of the last encoded frame so a test can see exactly what the plug-in passed.
// When the environment names a report file (VELL_PROBE_REPORT), the totals are appended
// to it as the library is unloaded; VELL_PROBE_TIMING_ONLY turns the sample copy off.
// When VELL_PROBE_TRACE names a file, the calls in order, one line each with the
// arguments a test checks, are written to it as the library is unloaded.
#include <windows.h>

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "tvqenc_api.h"
#include "tvqenc_probe.h"

namespace {

HMODULE real;
TvqGetVersionIDProc realGetVersionID;
TvqEncInitializeProc realInitialize;
TvqEncGetConfInfoProc realGetConfInfo;
TvqEncGetVectorInfoProc realGetVectorInfo;
TvqEncGetFrameSizeProc realGetFrameSize;
TvqEncodeFrameProc realEncodeFrame;
TvqEncUpdateVectorInfoProc realUpdateVectorInfo;
TvqEncTerminateProc realTerminate;

ProbeStats stats;
bool keepSamples;  // off for timing runs, where the copy would count as the plug-in's time
int32_t channels;
int32_t frameSize;
LARGE_INTEGER frequency;

// The call trace, and the layout records the library filled, to tell whether the later
// arguments point into them.
char trace[16384];
int traceLength;
EncoderConfig* lastConfig;
int32_t* lastWidths0[4];
int32_t* lastWidths1[4];

void Trace(const char* format, ...) {
  const int room = static_cast<int>(sizeof trace) - traceLength;
  if (room <= 1) return;
  va_list args;
  va_start(args, format);
  const int n = vsnprintf(trace + traceLength, static_cast<size_t>(room), format, args);
  va_end(args);
  if (n > 0) traceLength += n < room ? n : room - 1;
}

void WriteTrace() {
  char path[MAX_PATH];
  DWORD n = GetEnvironmentVariableA("VELL_PROBE_TRACE", path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written;
  WriteFile(file, trace, static_cast<DWORD>(traceLength), &written, nullptr);
  CloseHandle(file);
}

// Times one forwarded call into stats.librarySeconds (and, for frames, encodeSeconds).
class CallTimer {
 public:
  explicit CallTimer(double* extra = nullptr) : extra_(extra) { QueryPerformanceCounter(&start_); }
  ~CallTimer() {
    LARGE_INTEGER end;
    QueryPerformanceCounter(&end);
    double seconds = double(end.QuadPart - start_.QuadPart) / double(frequency.QuadPart);
    stats.librarySeconds += seconds;
    if (extra_) *extra_ += seconds;
  }

 private:
  double* extra_;
  LARGE_INTEGER start_;
};

template <typename Proc>
bool Bind(Proc& proc, const char* name) {
  proc = reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(real, name)));
  return proc != nullptr;
}

bool LoadReal(HMODULE self) {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
  char* slash = strrchr(path, '\\');
  if (n == 0 || !slash || slash - path + 16 >= MAX_PATH) return false;
  strcpy(slash + 1, "tvqenc_real.dll");
  real = LoadLibraryA(path);
  return real && Bind(realGetVersionID, "TvqGetVersionID") && Bind(realInitialize, "TvqEncInitialize") &&
         Bind(realGetConfInfo, "TvqEncGetConfInfo") && Bind(realGetVectorInfo, "TvqEncGetVectorInfo") &&
         Bind(realGetFrameSize, "TvqEncGetFrameSize") && Bind(realEncodeFrame, "TvqEncodeFrame") &&
         Bind(realUpdateVectorInfo, "TvqEncUpdateVectorInfo") && Bind(realTerminate, "TvqEncTerminate");
}

void AppendReport() {
  char path[MAX_PATH];
  DWORD n = GetEnvironmentVariableA("VELL_PROBE_REPORT", path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  char line[256];
  int length = snprintf(line, sizeof line,
                        "initialize=%d terminate=%d frames=%d encodeSeconds=%.6f librarySeconds=%.6f\n",
                        stats.initializeCalls, stats.terminateCalls, stats.encodeCalls,
                        stats.encodeSeconds, stats.librarySeconds);
  HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written;
  WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
  CloseHandle(file);
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    QueryPerformanceFrequency(&frequency);
    keepSamples = GetEnvironmentVariableA("VELL_PROBE_TIMING_ONLY", nullptr, 0) == 0;
    return LoadReal(self);
  }
  if (reason == DLL_PROCESS_DETACH) {  // the real library is unloaded with us
    AppendReport();
    WriteTrace();
  }
  return TRUE;
}

int32_t TVQ_API TvqGetVersionID(int32_t which, char* versionId) {
  CallTimer timer;
  Trace("TvqGetVersionID %d\n", which);
  return realGetVersionID(which, versionId);
}

int32_t TVQ_API TvqEncInitialize(HeaderInfo* header, EncoderTuning* tuning, FrameIndex* index,
                                 int32_t flags) {
  CallTimer timer;
  ++stats.initializeCalls;
  stats.lastTuning = tuning->value;
  channels = header->channelMode + 1;
  Trace("TvqEncInitialize mode %d/%d/%d tuning %d flags %d\n", header->channelMode, header->bitRate,
        header->samplingRate, tuning->value, flags);
  return realInitialize(header, tuning, index, flags);
}

int32_t TVQ_API TvqEncGetConfInfo(EncoderConfig* config) {
  CallTimer timer;
  Trace("TvqEncGetConfInfo\n");
  lastConfig = config;
  return realGetConfInfo(config);
}

int32_t TVQ_API TvqEncGetVectorInfo(int32_t** widths0, int32_t** widths1) {
  CallTimer timer;
  Trace("TvqEncGetVectorInfo\n");
  const int32_t result = realGetVectorInfo(widths0, widths1);
  memcpy(lastWidths0, widths0, sizeof lastWidths0);
  memcpy(lastWidths1, widths1, sizeof lastWidths1);
  return result;
}

int32_t TVQ_API TvqEncGetFrameSize(void) {
  CallTimer timer;
  Trace("TvqEncGetFrameSize\n");
  frameSize = realGetFrameSize();
  return frameSize;
}

int32_t TVQ_API TvqEncodeFrame(const float* samples, FrameIndex* index) {
  int32_t count = frameSize * channels;
  if (keepSamples && count > 0 && count <= kProbeMaxSamples) {
    memcpy(stats.lastFrame, samples, sizeof(float) * count);
    stats.lastFrameSamples = count;
  }
  ++stats.encodeCalls;
  int32_t result;
  {
    CallTimer timer(&stats.encodeSeconds);
    result = realEncodeFrame(samples, index);
  }
  Trace("TvqEncodeFrame block type %d\n", index->blockType);
  return result;
}

int32_t TVQ_API TvqEncUpdateVectorInfo(int32_t which, int32_t* shapeCount, int32_t* widths0,
                                       int32_t* widths1) {
  CallTimer timer;
  // "own layout": the shape count and width arrays of block type 2 that the stream's
  // layout queries reported, as the frame writer must pass them.
  const bool ownLayout = lastConfig && shapeCount == &lastConfig->blockTypes[2].shapeCount &&
                         widths0 == lastWidths0[2] && widths1 == lastWidths1[2];
  Trace("TvqEncUpdateVectorInfo %d %s\n", which, ownLayout ? "own layout" : "other arrays");
  return realUpdateVectorInfo(which, shapeCount, widths0, widths1);
}

int32_t TVQ_API TvqEncTerminate(FrameIndex* index) {
  CallTimer timer;
  Trace("TvqEncTerminate\n");
  ++stats.terminateCalls;
  return realTerminate(index);
}

void ProbeGetStats(ProbeStats* out) { *out = stats; }

}  // extern "C"
