// Export: the output handle is the SDK's writer itself; every call is handed to it.
#include "wma_core.h"
#include "wma_plugin.h"

static_assert(sizeof(WAVEFORMATEX) == 18, "the PCM record the writer takes is 18 bytes");

FilterHandle WINAPI OpenFilterOutput(const char* fileName, long sampleRate, WORD bitsPerSample,
                                     WORD channels, long, long* transferSize, DWORD options) {
  const WmaFormatRow& row = WmaExportRow(options);
  WCHAR wide[kWidePathUnits];
  if (!WidenPath(fileName, wide)) return nullptr;

  WmaWriter* writer = nullptr;
  if (WmaCreateWriter(wide, &writer) != 0 || !writer) return nullptr;

  // The compressed format first, then the PCM; the two are not compared.
  if (writer->ops->SetOutputFormat(writer, static_cast<uint16_t>(row.kbps) * 1000u, row.sampleRate,
                                   static_cast<uint16_t>(row.channels), 0) != 0) {
    writer->ops->Release(writer);
    ShowMessage("Cannot set output format");
    return nullptr;
  }
  const WmaPcmFields f =
      MakeWmaPcmFields(static_cast<uint32_t>(sampleRate), bitsPerSample, channels);
  WAVEFORMATEX pcm;
  pcm.wFormatTag = f.formatTag;
  pcm.nChannels = f.channels;
  pcm.nSamplesPerSec = f.samplesPerSec;
  pcm.nAvgBytesPerSec = f.avgBytesPerSec;
  pcm.nBlockAlign = f.blockAlign;
  pcm.wBitsPerSample = f.bitsPerSample;
  pcm.cbSize = f.extraSize;
  if (writer->ops->SetInputFormat(writer, &pcm) != 0) {
    writer->ops->Release(writer);
    ShowMessage("Cannot set input format");
    return nullptr;
  }
  if (transferSize) *transferSize = 65536;
  return writer;
}

long WINAPI WriteFilterOutput(FilterHandle output, const void* data, long bytes) {
  if (!output || bytes < 0) return 0;
  WmaWriter* writer = static_cast<WmaWriter*>(output);
  return writer->ops->Write(writer, data, static_cast<DWORD>(bytes)) == 0 ? bytes : 0;
}

void WINAPI CloseFilterOutput(FilterHandle output) {
  if (!output) return;
  WmaWriter* writer = static_cast<WmaWriter*>(output);
  writer->ops->Finish(writer);  // its result is not examined: the writer goes either way
  writer->ops->Release(writer);
}
