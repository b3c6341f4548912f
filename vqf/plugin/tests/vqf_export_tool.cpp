// Writes a VQF file through vell_vqf.flt (beside this program) from a generated test
// signal, for the peer tests that read the result with ffprobe and ffmpeg:
//   vqf_export_tool OUT.vqf SAMPLE_RATE BITS CHANNELS OPTIONS SAMPLES_PER_CHANNEL
#include <stdio.h>
#include <stdlib.h>

#include <cmath>
#include <vector>

#include "plugin_loader.h"

int main(int argc, char** argv) {
  if (argc != 7) {
    fprintf(stderr, "usage: vqf_export_tool OUT.vqf SAMPLE_RATE BITS CHANNELS OPTIONS SAMPLES_PER_CHANNEL\n");
    return 2;
  }
  const long rate = atol(argv[2]);
  const WORD bits = static_cast<WORD>(atoi(argv[3]));
  const WORD channels = static_cast<WORD>(atoi(argv[4]));
  const DWORD options = strtoul(argv[5], nullptr, 10);
  const size_t length = strtoul(argv[6], nullptr, 10);

  LoadedPlugin plugin((ProgramDirectory() + "vell_vqf.flt").c_str());
  if (!plugin.openOutput) {
    fprintf(stderr, "vell_vqf.flt did not load\n");
    return 3;
  }
  long transferSize = 0;
  FilterHandle out = plugin.openOutput(argv[1], rate, bits, channels, 0, &transferSize, options);
  if (!out) {
    fprintf(stderr, "the plug-in refused the output\n");
    return 4;
  }
  // A tone per channel with a loudness step every half second (so all block types occur).
  std::vector<uint8_t> block;
  const size_t framesPerBlock = 4096;
  int status = 0;
  for (size_t start = 0; start < length; start += framesPerBlock) {
    block.clear();
    for (size_t i = start; i < length && i < start + framesPerBlock; ++i) {
      double loud = (i / (rate / 2)) % 2 ? 0.8 : 0.05;
      for (WORD c = 0; c < channels; ++c) {
        double v = loud * std::sin(2 * 3.14159265358979 * (440.0 * (c + 1)) * double(i) / rate);
        int s = static_cast<int>(v * 32767);
        if (bits == 8) {
          block.push_back(static_cast<uint8_t>(128 + s / 256));
        } else {
          block.push_back(static_cast<uint8_t>(s));
          block.push_back(static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8));
        }
      }
    }
    long n = static_cast<long>(block.size());
    if (plugin.writeOutput(out, block.data(), n) != n) status = 5;
  }
  plugin.closeOutput(out);
  if (status) fprintf(stderr, "a write came back short\n");
  return status;
}
