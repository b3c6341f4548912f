// Encoding: the PCM is converted (sample format, and rate or channels where the caller's
// differ from the file's) to planar float, queued, handed a whole frame at a time to our
// WMA (version 2) encoder, and its packets are written into an ASF file by FFmpeg's muxer.
//
// The decoder's output starts one frame into the stream (the encoder codes a frame when the
// next has arrived, the decoder drops its first), and only whole frames are coded. So a
// frame of silence goes in before the PCM, and after the PCM enough silence to complete the
// last frame plus one frame more: any decoder then yields the input from its first sample,
// and the exact count stored in the header lets our reader stop where the input stopped.
#include "ffmpeg_writer.h"

#include "av_result.h"
#include "core_result.h"
#include "wma_stream_tag.h"

#include "encoder.h"
#include "stream_setup.h"

extern "C" {
#include <libavutil/log.h>
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

namespace wmacore {

class AsfWmaWriter {
 public:
  ~AsfWmaWriter() {
    if (mux) avformat_free_context(mux);  // leaves io alone
    avio_closep(&io);
    swr_free(&convert);
    if (queue) av_audio_fifo_free(queue);
    av_packet_free(&packet);
  }

  AVIOContext* io = nullptr;
  AVFormatContext* mux = nullptr;
  SwrContext* convert = nullptr;
  AVAudioFifo* queue = nullptr;
  AVPacket* packet = nullptr;
  wmaenc::StreamSetup setup;
  wmaenc::Encoder encoder;
  bool outputSet = false;
  std::vector<float> frame[wmaenc::kMaxChannels];  // one frame for the encoder
  std::vector<uint8_t> coded;                      // one packet from the encoder
  std::vector<uint8_t> converted;  // planar float scratch for one conversion
  uint8_t carry[4] = {};           // the start of a sample frame split across two writes
  uint32_t carried = 0;
  uint32_t inRate = 0, inChannels = 0, inBits = 0;
  bool started = false, finished = false;
  int32_t failure = kOk;  // the first error met while encoding; later calls report it
  int64_t samples = 0;    // per channel at the file's rate, the silence not counted
  int64_t framesSent = 0;  // frames that ended in the packets muxed so far
};

namespace {

int32_t Fail(AsfWmaWriter* w, int32_t result) {
  if (w->failure == kOk) w->failure = result;
  return w->failure;
}

int32_t FromEncoder(wmaenc::Result r) {
  switch (r) {
    case wmaenc::Result::kOk: return kOk;
    case wmaenc::Result::kNoMemory: return kNoMemory;
    default: return kFailed;
  }
}

// The frames that end in a packet, from its header: a 4-bit index, 4 bits of one more than
// the frames that begin and end in it, then the bits that finish the frame begun before
// (a frame ends there too when they are not zero).
int64_t FramesEndingIn(const std::vector<uint8_t>& packet, int32_t offsetBits) {
  if (packet.empty()) return 0;
  const int64_t whole = (packet[0] & 15) - 1;
  uint32_t carried = 0;
  for (int32_t i = 0; i < offsetBits; ++i) {
    const int32_t bit = 8 + i;
    carried |= static_cast<uint32_t>(packet[bit >> 3] >> (7 - (bit & 7)) & 1);
  }
  return std::max<int64_t>(whole, 0) + (carried ? 1 : 0);
}

// Muxes every packet the encoder has ready. A packet's time is where the first frame
// ending in it starts, in samples of the stream, and its duration the frames ending in it:
// both strictly increase, and the last packet's end is where the coded frames end.
int32_t MuxPackets(AsfWmaWriter* w) {
  const int32_t f = w->setup.frameLength;
  const AVRational samples{1, w->setup.sampleRate};
  const AVRational muxed = w->mux->streams[0]->time_base;
  while (w->encoder.TakePacket(&w->coded)) {
    const int64_t frames = FramesEndingIn(w->coded, w->setup.byteOffsetBits + 3);
    if (av_new_packet(w->packet, static_cast<int>(w->coded.size())) < 0) return Fail(w, kNoMemory);
    std::memcpy(w->packet->data, w->coded.data(), w->coded.size());
    w->packet->stream_index = 0;
    w->packet->flags |= AV_PKT_FLAG_KEY;
    w->packet->pts = w->packet->dts = av_rescale_q(w->framesSent * f, samples, muxed);
    w->framesSent += frames;
    w->packet->duration = av_rescale_q(w->framesSent * f, samples, muxed) - w->packet->pts;
    const int written = av_write_frame(w->mux, w->packet);
    av_packet_unref(w->packet);
    if (written < 0) return Fail(w, FromAvError(written));
    if (w->io->error < 0) return Fail(w, FromAvError(w->io->error));
  }
  return kOk;
}

// Encodes every whole frame waiting in the queue.
int32_t EncodeQueued(AsfWmaWriter* w) {
  const int size = w->setup.frameLength;
  float* planes[wmaenc::kMaxChannels] = {w->frame[0].data(), w->frame[w->setup.channels - 1].data()};
  while (av_audio_fifo_size(w->queue) >= size) {
    av_audio_fifo_read(w->queue, reinterpret_cast<void**>(planes), size);
    const wmaenc::Result r = w->encoder.EncodeFrame(planes);
    if (r != wmaenc::Result::kOk) return Fail(w, FromEncoder(r));
    if (MuxPackets(w) != kOk) return w->failure;
  }
  return kOk;
}

int32_t QueueSilence(AsfWmaWriter* w, int count) {
  if (count <= 0) return kOk;
  std::vector<float> zeros(static_cast<size_t>(count), 0.0f);
  void* planes[2] = {zeros.data(), zeros.data()};
  if (av_audio_fifo_write(w->queue, planes, count) != count) return Fail(w, kNoMemory);
  return kOk;
}

// Converts count input samples (per channel) and queues them; null in flushes the converter.
int32_t QueueConverted(AsfWmaWriter* w, const uint8_t* in, int count) {
  const int room = swr_get_out_samples(w->convert, count);
  if (room < 0) return Fail(w, kFailed);
  const int channels = w->setup.channels;
  const size_t plane = static_cast<size_t>(room) * sizeof(float);
  if (w->converted.size() < plane * channels) w->converted.resize(plane * channels);
  uint8_t* out[2] = {w->converted.data(), w->converted.data() + plane};
  const uint8_t* inPlanes[1] = {in};
  const int got = swr_convert(w->convert, out, room, in ? inPlanes : nullptr, in ? count : 0);
  if (got < 0) return Fail(w, kFailed);
  if (av_audio_fifo_write(w->queue, reinterpret_cast<void**>(out), got) != got)
    return Fail(w, kNoMemory);
  w->samples += got;
  return EncodeQueued(w);
}

// samples < 0: the placeholder the header carries until the finish, of the same width
// but no number, so a file whose export never finished is never read as holding none.
void SetSampleCountTag(AsfWmaWriter* w, int64_t samples) {
  char count[24];
  if (samples < 0) {
    std::memset(count, '-', kSampleCountDigits);
    count[kSampleCountDigits] = '\0';
  } else {
    std::snprintf(count, sizeof count, "%0*lld", kSampleCountDigits,
                  static_cast<long long>(std::min<int64_t>(samples, 9999999999999999)));
  }
  char text[48];  // kSampleCountTextSize with the values in range
  std::snprintf(text, sizeof text, "%s %06u %u", count, static_cast<unsigned>(w->setup.sampleRate),
                static_cast<unsigned>(w->setup.channels));
  av_dict_set(&w->mux->metadata, kSampleCountTag, text, 0);
}

// The stream as the muxer writes it into the header: WMA version 2 at the row's bit rate,
// our extradata, and one of our packets as the block align.
int32_t DescribeStream(AsfWmaWriter* w, AVCodecParameters* p) {
  p->codec_type = AVMEDIA_TYPE_AUDIO;
  p->codec_id = AV_CODEC_ID_WMAV2;
  p->sample_rate = w->setup.sampleRate;
  av_channel_layout_default(&p->ch_layout, w->setup.channels);
  p->bit_rate = w->setup.bitRate;
  p->block_align = w->setup.packetBytes;
  p->frame_size = w->setup.frameLength;
  p->bits_per_coded_sample = 16;
  p->extradata = static_cast<uint8_t*>(av_mallocz(wmaenc::kExtradataSize + AV_INPUT_BUFFER_PADDING_SIZE));
  if (!p->extradata) return kNoMemory;
  std::memcpy(p->extradata, w->setup.extradata, wmaenc::kExtradataSize);
  p->extradata_size = wmaenc::kExtradataSize;
  return kOk;
}

// Sets up conversion, the encoder and the ASF file once both formats are known, and
// queues the leading frame of silence.
int32_t Start(AsfWmaWriter* w) {
  if (w->started) return w->failure;
  if (!w->outputSet || !w->inBits) return kWrongState;
  w->started = true;
  const wmaenc::StreamSetup& s = w->setup;
  AVChannelLayout inLayout, outLayout;
  av_channel_layout_default(&inLayout, static_cast<int>(w->inChannels));
  av_channel_layout_default(&outLayout, s.channels);
  const AVSampleFormat inFormat = w->inBits == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
  if (swr_alloc_set_opts2(&w->convert, &outLayout, AV_SAMPLE_FMT_FLTP, s.sampleRate,
                          &inLayout, inFormat, static_cast<int>(w->inRate), 0, nullptr) < 0 ||
      swr_init(w->convert) < 0)
    return Fail(w, kRefused);
  w->queue = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, s.channels, s.frameLength * 4);
  w->packet = av_packet_alloc();
  if (!w->queue || !w->packet) return Fail(w, kNoMemory);
  for (int32_t ch = 0; ch < s.channels; ++ch) w->frame[ch].assign(static_cast<size_t>(s.frameLength), 0.0f);
  if (const wmaenc::Result r = w->encoder.Open(s, false); r != wmaenc::Result::kOk)
    return Fail(w, FromEncoder(r));

  if (avformat_alloc_output_context2(&w->mux, nullptr, "asf", nullptr) < 0)
    return Fail(w, kFailed);
  w->mux->pb = w->io;
  AVStream* stream = avformat_new_stream(w->mux, nullptr);
  if (!stream) return Fail(w, kNoMemory);
  if (int32_t described = DescribeStream(w, stream->codecpar)) return Fail(w, described);
  stream->time_base = AVRational{1, s.sampleRate};
  SetSampleCountTag(w, -1);
  const int header = avformat_write_header(w->mux, nullptr);
  if (header < 0) return Fail(w, FromAvError(header));
  if (w->io->error < 0) return Fail(w, FromAvError(w->io->error));
  return QueueSilence(w, s.frameLength);
}

// No exception leaves the library (its callers are built without them): a failed
// allocation inside a call becomes the writer's latched out-of-memory failure.
template <class Body>
int32_t Guarded(AsfWmaWriter* w, Body body) noexcept {
  try {
    return body();
  } catch (...) {
    return Fail(w, kNoMemory);
  }
}

int32_t WritePcmUnguarded(AsfWmaWriter* w, const uint8_t* data, uint32_t bytes);
int32_t FinishUnguarded(AsfWmaWriter* w);

}  // namespace

AsfWmaWriter* OpenWriter(const char* path, int32_t* result) {
  av_log_set_level(AV_LOG_QUIET);  // FFmpeg's messages would reach the host's console
  AsfWmaWriter* w = nullptr;
  try {
    w = new AsfWmaWriter;  // the encoder's members may allocate as they are made
  } catch (...) {
    *result = kNoMemory;
    return nullptr;
  }
  const int opened = avio_open(&w->io, path, AVIO_FLAG_WRITE);
  if (opened < 0) {
    *result = FromAvError(opened);
    delete w;
    return nullptr;
  }
  *result = kOk;
  return w;
}

int32_t SetWriterOutput(AsfWmaWriter* w, uint32_t bitRate, uint32_t sampleRate, uint32_t channels,
                        uint32_t* written) {
  if (w->started) return kWrongState;
  // Our encoder writes any bit rate the stream's fields can carry, exactly.
  wmaenc::StreamSetup setup;
  if (bitRate > INT32_MAX || sampleRate > INT32_MAX || channels < 1 || channels > 2 ||
      !wmaenc::MakeStreamSetup(static_cast<int32_t>(sampleRate), static_cast<int32_t>(channels),
                               static_cast<int32_t>(bitRate), &setup))
    return kRefused;
  w->setup = setup;
  w->outputSet = true;
  *written = bitRate;
  return kOk;
}

int32_t SetWriterInput(AsfWmaWriter* w, uint32_t sampleRate, uint32_t channels, uint32_t bits) {
  if (w->started) return kWrongState;
  if ((bits != 8 && bits != 16) || channels < 1 || channels > 2 || sampleRate < 1000 ||
      sampleRate > 384000)
    return kRefused;
  w->inRate = sampleRate;
  w->inChannels = channels;
  w->inBits = bits;
  return kOk;
}

int32_t WritePcm(AsfWmaWriter* w, const uint8_t* data, uint32_t bytes) {
  return Guarded(w, [&] { return WritePcmUnguarded(w, data, bytes); });
}

int32_t FinishWriter(AsfWmaWriter* w) {
  return Guarded(w, [&] { return FinishUnguarded(w); });
}

void CloseWriter(AsfWmaWriter* w) { delete w; }

namespace {

int32_t WritePcmUnguarded(AsfWmaWriter* w, const uint8_t* data, uint32_t bytes) {
  if (w->finished) return kWrongState;
  if (int32_t started = Start(w)) return started;
  const uint32_t align = w->inChannels * (w->inBits / 8);
  // Complete a sample frame begun by the previous write.
  if (w->carried) {
    const uint32_t take = std::min(align - w->carried, bytes);
    std::memcpy(w->carry + w->carried, data, take);
    w->carried += take;
    data += take;
    bytes -= take;
    if (w->carried < align) return kOk;
    w->carried = 0;
    if (int32_t r = QueueConverted(w, w->carry, 1)) return r;
  }
  // At most about a second per conversion, so the scratch stays small.
  const uint32_t chunk = align * 65536;
  while (bytes >= align) {
    const uint32_t n = std::min(bytes - bytes % align, chunk);
    if (int32_t r = QueueConverted(w, data, static_cast<int>(n / align))) return r;
    data += n;
    bytes -= n;
  }
  std::memcpy(w->carry, data, bytes);
  w->carried = bytes;
  return kOk;
}

int32_t FinishUnguarded(AsfWmaWriter* w) {
  if (w->finished) return w->failure;
  if (int32_t started = Start(w)) return started;
  w->finished = true;
  if (int32_t r = QueueConverted(w, nullptr, 0)) return r;  // what the converter holds back
  const int size = w->setup.frameLength;
  const int partial = av_audio_fifo_size(w->queue) % size;
  if (QueueSilence(w, (partial ? size - partial : 0) + size) || EncodeQueued(w)) return w->failure;
  const wmaenc::Result last = w->encoder.Finish();  // codes the frame held back
  if (last != wmaenc::Result::kOk) return Fail(w, FromEncoder(last));
  if (MuxPackets(w)) return w->failure;

  SetSampleCountTag(w, w->samples);
  const int trailer = av_write_trailer(w->mux);  // rewrites the header: duration, sizes, count
  if (trailer < 0) return Fail(w, FromAvError(trailer));
  avio_flush(w->io);
  if (w->io->error < 0) return Fail(w, FromAvError(w->io->error));
  return kOk;
}

}  // namespace
}  // namespace wmacore
