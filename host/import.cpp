// `import`: a file read through the plug-in's input entry points into a PCM WAV.
#include "commands.h"
#include "progress.h"
#include "wav.h"

#include <cstdio>
#include <vector>

namespace flthost {
namespace {

struct OpenedInput {
  long sampleRate = 0;
  WORD bitsPerSample = 0;
  WORD channels = 0;
  long transferSize = 0;
  long announcedBytes = -1;  // FilterGetFileSize, -1 when not exported
  DWORD options = 0;
  char optionsText[512] = {};
};

}  // namespace

int RunImport(const Arguments& args) {
  Plugin plugin;
  QueryRecord query;
  if (int code = LoadForCommand(args.filter, {"OpenFilterInput", "ReadFilterInput", "CloseFilterInput"}, plugin,
                                query))
    return code;
  const LoadedPlugin& entry = plugin.entry();
  if (entry.understandsFormat && !entry.understandsFormat(args.input.c_str()))
    return Fail(kExitRefusedInput, "the plug-in does not understand " + args.input);

  CallTimer inPlugin;
  OpenedInput in;
  FilterHandle input = inPlugin([&] {
    return entry.openInput(args.input.c_str(), &in.sampleRate, &in.bitsPerSample, &in.channels, 0,
                           &in.transferSize);
  });
  if (!input) return Fail(kExitRefusedInput, "the plug-in could not open " + args.input);
  inPlugin([&] {
    if (entry.getFileSize) in.announcedBytes = entry.getFileSize(input);
    if (entry.options) in.options = entry.options(input);
    if (entry.optionsString) entry.optionsString(input, in.optionsText);
  });
  in.optionsText[sizeof in.optionsText - 1] = '\0';

  const std::string sampleType = DescribeSampleType(in.sampleRate, in.bitsPerSample, in.channels);
  if (in.sampleRate <= 0 || (in.bitsPerSample != 8 && in.bitsPerSample != 16) || in.channels == 0) {
    inPlugin([&] { entry.closeInput(input); });
    return Fail(kExitContract, "the plug-in reported an impossible sample type: " + sampleType);
  }
  const wav::Format format{uint32_t(in.sampleRate), in.bitsPerSample, in.channels};
  wav::Writer writer;
  if (writer.Open(args.output, format) != wav::Status::Ok) {
    inPlugin([&] { entry.closeInput(input); });
    return Fail(kExitIo, args.output + ": " + writer.Error());
  }

  const size_t block = BlockBytes(in.transferSize, ReportedBlockSize(query), format.BytesPerFrame());
  std::vector<uint8_t> buffer(block);
  Progress progress(stderr, ShowProgress(args), "import", in.announcedBytes > 0 ? uint64_t(in.announcedBytes) : 0);
  uint64_t total = 0, blocks = 0;
  int result = kExitOk;
  for (;;) {
    const long got = inPlugin([&] { return entry.readInput(input, buffer.data(), long(block)); });
    ++blocks;
    if (got < 0 || size_t(got) > block) {
      result = Fail(kExitContract, "ReadFilterInput returned " + std::to_string(got) + " for a request of " +
                                       std::to_string(block) + " bytes");
      break;
    }
    if (writer.Write(buffer.data(), size_t(got)) != wav::Status::Ok) {
      result = Fail(kExitIo, args.output + ": " + writer.Error());
      break;
    }
    total += uint64_t(got);
    progress.Update(total);
    if (size_t(got) < block) break;
  }
  inPlugin([&] { entry.closeInput(input); });
  progress.Finish();
  if (writer.Finish() != wav::Status::Ok && result == kExitOk) result = Fail(kExitIo, args.output + ": " + writer.Error());
  if (result != kExitOk) return result;

  std::printf("input:  %s, %lld bytes, %s (options %lu, \"%s\")\n", args.input.c_str(), FileBytes(args.input),
              sampleType.c_str(), static_cast<unsigned long>(in.options), in.optionsText);
  std::printf("read:   %llu bytes in %llu blocks of up to %zu (transfer size %ld), announced %ld\n",
              static_cast<unsigned long long>(total), static_cast<unsigned long long>(blocks), block,
              in.transferSize, in.announcedBytes);
  std::printf("output: %s, %llu frames\n", args.output.c_str(),
              static_cast<unsigned long long>(total / format.BytesPerFrame()));
  if (args.time) std::printf("plugin-seconds: %.6f\n", inPlugin.Seconds());
  if (total % format.BytesPerFrame())
    Warn("the plug-in delivered " + std::to_string(total % format.BytesPerFrame()) + " bytes of a partial frame");
  if (in.announcedBytes >= 0 && total < uint64_t(in.announcedBytes)) {
    const std::string counts = std::to_string(total) + " of the " + std::to_string(in.announcedBytes) + " bytes";
    if (!ShortReadIsNormalEnd(total, uint64_t(in.announcedBytes), format.sampleRate, format.BytesPerFrame())) {
      Warn("short read: the plug-in delivered " + counts + " it announced");
      return kExitShortRead;
    }
    std::printf("end:    the plug-in delivered %s it announced, within 100 ms of audio\n", counts.c_str());
  }
  if (in.announcedBytes >= 0 && total > uint64_t(in.announcedBytes))
    Warn("the plug-in delivered " + std::to_string(total) + " bytes, more than the " +
         std::to_string(in.announcedBytes) + " it announced");
  return kExitOk;
}

}  // namespace flthost
