// The WMA library's whole reading path over any file: open (the ASF header's own walk,
// FFmpeg's demuxer and decoder), reads in blocks of sizes the input chooses, close. Linked
// with a sanitizer-instrumented build of the FFmpeg the library ships (so FFmpeg's code is
// covered too). The input's last byte chooses the block sizes, the rest is the file.
// Every read must return whole sample frames within the room given; once the stream is
// over it stays over; an opened stream is mono or stereo at a sane rate.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core_result.h"
#include "ffmpeg_reader.h"

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "WMA reader: %s\n", what);
    std::abort();
  }
}

// The input as a file: the reader takes a path, as FFmpeg's file protocol does.
const char* WriteInput(const uint8_t* data, size_t size) {
  static char path[64] = "";
  if (!path[0]) std::snprintf(path, sizeof path, "/tmp/wma_reader_fuzz_%d.wma", static_cast<int>(getpid()));
  const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
  Check(fd >= 0, "cannot write the input file");
  for (size_t at = 0; at < size;) {
    const ssize_t n = write(fd, data + at, size - at);
    Check(n > 0, "cannot write the input file");
    at += static_cast<size_t>(n);
  }
  close(fd);
  return path;
}

constexpr size_t kMostPcmBytes = 64 << 20;  // enough for any input's stream; beyond, a stop

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t choice = data[size - 1];
  const char* path = WriteInput(data, size - 1);
  wmacore::StreamInfo info;
  int32_t result = wmacore::kOk;
  wmacore::AsfWmaReader* r = wmacore::OpenReader(path, &info, &result);
  if (!r) {
    Check(result != wmacore::kOk, "no reader, yet success");
    return 0;
  }
  Check(info.channels == 1 || info.channels == 2, "channels");
  Check(info.sampleRate > 0 && info.sampleRate <= 384000, "sample rate");
  Check(info.samples >= 0, "a negative length");
  const uint32_t rooms[4] = {1u + choice % 7, 4096, 32768, 1u + 97u * (choice >> 3)};
  std::vector<uint8_t> block(32768 + 16);
  uint32_t state = wmacore::kMore;
  size_t total = 0;
  for (int i = 0; state == wmacore::kMore; ++i) {
    const uint32_t room = rooms[(choice + i) % 4];
    const uint32_t got = wmacore::ReadPcm(r, block.data(), room, &state);
    Check(got <= room, "more than the room given");
    Check(got % (2 * info.channels) == 0, "a partial sample frame");
    Check(state <= wmacore::kDamaged, "an unknown state");
    total += got;
    if (total > kMostPcmBytes) wmacore::StopReader(r);
  }
  uint32_t after = wmacore::kMore;
  Check(wmacore::ReadPcm(r, block.data(), 4096, &after) == 0 && after == state, "more after the end");
  wmacore::CloseReader(r);
  return 0;
}
