// A stand-in for TVQENC.DLL used by the tests and the benchmark: it forwards every call
// to the real library (tvqenc_real.dll beside it), counts the calls, times them, and keeps
// the samples of the last encoded frame so a test can see exactly what the plug-in passed.
// When the environment names a report file (VELL_PROBE_REPORT), the totals are appended
// to it as the library is unloaded; VELL_PROBE_TIMING_ONLY turns the sample copy off.
#include <windows.h>

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
  if (reason == DLL_PROCESS_DETACH) AppendReport();  // the real library is unloaded with us
  return TRUE;
}

int32_t TVQ_API TvqGetVersionID(int32_t which, char* versionId) {
  CallTimer timer;
  return realGetVersionID(which, versionId);
}

int32_t TVQ_API TvqEncInitialize(HeaderInfo* header, EncoderTuning* tuning, FrameIndex* index,
                                 int32_t flags) {
  CallTimer timer;
  ++stats.initializeCalls;
  stats.lastTuning = tuning->value;
  channels = header->channelMode + 1;
  return realInitialize(header, tuning, index, flags);
}

int32_t TVQ_API TvqEncGetConfInfo(EncoderConfig* config) {
  CallTimer timer;
  return realGetConfInfo(config);
}

int32_t TVQ_API TvqEncGetVectorInfo(int32_t** widths0, int32_t** widths1) {
  CallTimer timer;
  return realGetVectorInfo(widths0, widths1);
}

int32_t TVQ_API TvqEncGetFrameSize(void) {
  CallTimer timer;
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
  CallTimer timer(&stats.encodeSeconds);
  return realEncodeFrame(samples, index);
}

int32_t TVQ_API TvqEncUpdateVectorInfo(int32_t which, int32_t* shapeCount, int32_t* widths0,
                                       int32_t* widths1) {
  CallTimer timer;
  return realUpdateVectorInfo(which, shapeCount, widths0, widths1);
}

int32_t TVQ_API TvqEncTerminate(FrameIndex* index) {
  CallTimer timer;
  ++stats.terminateCalls;
  return realTerminate(index);
}

void ProbeGetStats(ProbeStats* out) { *out = stats; }

}  // extern "C"
