// Writes VQF files through vell_vqf.flt (beside this program) from a generated test
// signal, for the peer tests that read the result with ffprobe and ffmpeg:
//   vqf_export_tool OUT.vqf SAMPLE_RATE BITS CHANNELS OPTIONS SAMPLES_PER_CHANNEL
//                   [OUT2.vqf SAMPLE_RATE BITS CHANNELS OPTIONS SAMPLES_PER_CHANNEL [first|second]]
// With two outputs both are open at once: their blocks are written by turns, and the
// last word says which one is closed first (first by default).
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <cmath>
#include <vector>

#include "plugin_loader.h"

namespace {

struct Export {
  const char* path;
  long rate;
  WORD bits, channels;
  DWORD options;
  size_t length, done = 0;
  FilterHandle handle = nullptr;

  explicit Export(char** arg)
      : path(arg[0]), rate(atol(arg[1])), bits(static_cast<WORD>(atoi(arg[2]))),
        channels(static_cast<WORD>(atoi(arg[3]))), options(strtoul(arg[4], nullptr, 10)),
        length(strtoul(arg[5], nullptr, 10)) {}

  // The next block of a tone per channel with a loudness step every half second (so all
  // block types occur); false when the write came back short.
  bool WriteBlock(LoadedPlugin& plugin) {
    std::vector<uint8_t> block;
    const size_t end = done + 4096 < length ? done + 4096 : length;
    for (size_t i = done; i < end; ++i) {
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
    done = end;
    long n = static_cast<long>(block.size());
    return plugin.writeOutput(handle, block.data(), n) == n;
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7 && argc != 13 && argc != 14) {
    fprintf(stderr, "usage: vqf_export_tool OUT.vqf SAMPLE_RATE BITS CHANNELS OPTIONS SAMPLES_PER_CHANNEL "
                    "[OUT2.vqf SAMPLE_RATE BITS CHANNELS OPTIONS SAMPLES_PER_CHANNEL [first|second]]\n");
    return 2;
  }
  std::vector<Export> exports = {Export(argv + 1)};
  if (argc >= 13) exports.push_back(Export(argv + 7));
  const bool secondClosedFirst = argc == 14 && strcmp(argv[13], "second") == 0;

  LoadedPlugin plugin((ProgramDirectory() + "vell_vqf.flt").c_str());
  if (!plugin.openOutput) {
    fprintf(stderr, "vell_vqf.flt did not load\n");
    return 3;
  }
  for (Export& e : exports) {
    long transferSize = 0;
    e.handle = plugin.openOutput(e.path, e.rate, e.bits, e.channels, 0, &transferSize, e.options);
    if (!e.handle) {
      fprintf(stderr, "the plug-in refused the output %s\n", e.path);
      return 4;
    }
  }
  int status = 0;
  for (bool more = true; more;) {
    more = false;
    for (Export& e : exports) {
      if (e.done == e.length) continue;
      if (!e.WriteBlock(plugin)) status = 5;
      more = true;
    }
  }
  if (secondClosedFirst) plugin.closeOutput(exports[1].handle);
  for (Export& e : exports)
    if (!(secondClosedFirst && &e == &exports[1])) plugin.closeOutput(e.handle);
  if (status) fprintf(stderr, "a write came back short\n");
  return status;
}
