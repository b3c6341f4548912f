// `export`: a WAV's samples through OpenFilterOutput, WriteFilterOutput and CloseFilterOutput.
#include "commands.h"
#include "progress.h"
#include "wav.h"

#include <climits>
#include <cstdio>
#include <vector>

namespace flthost {
namespace {

int WavFailure(wav::Status status, const std::string& path, const std::string& reason) {
  const int code = status == wav::Status::CannotOpen || status == wav::Status::IoError ? kExitIo : kExitBadWav;
  return Fail(code, path + ": " + reason);
}

}  // namespace

int RunExport(const Arguments& args) {
  wav::Reader reader;
  if (wav::Status status = reader.Open(args.input); status != wav::Status::Ok)
    return WavFailure(status, args.input, reader.Error());
  const wav::Format format = reader.format();
  if (reader.DataBytes() > uint32_t(LONG_MAX))
    return Fail(kExitBadWav, args.input + ": more data than a plug-in can be told about");
  if (reader.DroppedBytes())
    Warn(args.input + ": ignoring " + std::to_string(reader.DroppedBytes()) + " bytes of a partial sample frame");

  Plugin plugin;
  QueryRecord query;
  if (int code = LoadForCommand(args.filter, {"OpenFilterOutput", "WriteFilterOutput", "CloseFilterOutput"},
                                plugin, query))
    return code;
  const LoadedPlugin& entry = plugin.entry();

  CallTimer inPlugin;
  long transferSize = 0;
  const long dataBytes = long(reader.DataBytes());
  FilterHandle output = inPlugin([&] {
    return entry.openOutput(args.output.c_str(), long(format.sampleRate), format.bitsPerSample, format.channels,
                            dataBytes, &transferSize, args.options);
  });
  if (!output)
    return Fail(kExitRefusedOutput, "the plug-in refused " +
                                        DescribeSampleType(long(format.sampleRate), format.bitsPerSample,
                                                           format.channels) +
                                        " or could not create " + args.output);

  const size_t block = BlockBytes(transferSize, ReportedBlockSize(query), format.BytesPerFrame());
  std::vector<uint8_t> buffer(block);
  Progress progress(stderr, ShowProgress(args), "export", uint64_t(dataBytes));
  uint64_t written = 0, blocks = 0;
  int result = kExitOk;
  for (;;) {
    const size_t got = reader.Read(buffer.data(), block);
    if (got == 0 && !reader.Error().empty()) {
      result = Fail(kExitIo, args.input + ": " + reader.Error());
      break;
    }
    if (got == 0) break;
    const long consumed = inPlugin([&] { return entry.writeOutput(output, buffer.data(), long(got)); });
    ++blocks;
    if (consumed != long(got)) {
      progress.Finish();
      result = Fail(kExitShortWrite, "short write: the plug-in consumed " + std::to_string(consumed) + " of " +
                                         std::to_string(got) + " bytes at byte " + std::to_string(written) +
                                         " of the data; " + args.output + " is incomplete");
      break;
    }
    written += got;
    progress.Update(written);
  }
  inPlugin([&] { entry.closeOutput(output); });
  progress.Finish();

  std::printf("input:  %s, %s, %llu frames\n", args.input.c_str(),
              DescribeSampleType(long(format.sampleRate), format.bitsPerSample, format.channels).c_str(),
              static_cast<unsigned long long>(reader.DataBytes() / format.BytesPerFrame()));
  std::printf("wrote:  %llu bytes in %llu blocks of up to %zu (transfer size %ld, options %lu)\n",
              static_cast<unsigned long long>(written), static_cast<unsigned long long>(blocks), block,
              transferSize, static_cast<unsigned long>(args.options));
  std::printf("output: %s, %lld bytes\n", args.output.c_str(), FileBytes(args.output));
  if (args.time) std::printf("plugin-seconds: %.6f\n", inPlugin.Seconds());
  return result;
}

}  // namespace flthost
