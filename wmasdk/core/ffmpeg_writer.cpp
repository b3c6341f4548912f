// Encoding: the PCM is converted (sample format, and rate or channels where the caller's
// differ from the file's) to the encoder's planar float, queued, and encoded a whole
// frame at a time into an ASF file.
//
// FFmpeg's WMA decoder drops its first frame (frame_len samples: 512, 1024 or 2048 by
// rate), and the encoder only emits complete frames. So a frame of silence goes in before
// the PCM, and after the PCM enough silence to complete the last frame plus one frame
// more: any decoder then yields the input from its first sample, and the exact count
// stored in the header lets our reader stop where the input stopped.
#include "ffmpeg_writer.h"

#include "av_result.h"
#include "core_result.h"
#include "wma_stream_tag.h"

extern "C" {
#include <libavutil/log.h>
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
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

constexpr uint32_t kHighestBitRate = 320000;  // where the search for an accepted rate gives up
constexpr uint32_t kBitRateStep = 1000;

class AsfWmaWriter {
 public:
  ~AsfWmaWriter() {
    if (mux) avformat_free_context(mux);  // leaves io alone
    avio_closep(&io);
    avcodec_free_context(&encoder);
    swr_free(&convert);
    if (queue) av_audio_fifo_free(queue);
    av_frame_free(&frame);
    av_packet_free(&packet);
  }

  AVIOContext* io = nullptr;
  AVCodecContext* encoder = nullptr;
  AVFormatContext* mux = nullptr;
  SwrContext* convert = nullptr;
  AVAudioFifo* queue = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  std::vector<uint8_t> converted;  // planar float scratch for one conversion
  uint8_t carry[4] = {};           // the start of a sample frame split across two writes
  uint32_t carried = 0;
  uint32_t inRate = 0, inChannels = 0, inBits = 0;
  bool started = false, finished = false;
  int32_t failure = kOk;  // the first error met while encoding; later calls report it
  int64_t samples = 0;          // per channel at the file's rate, the silence not counted
  int64_t nextPts = 0;
};

namespace {

AVCodecContext* NewEncoder(uint32_t bitRate, uint32_t sampleRate, uint32_t channels) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
  if (!codec || sampleRate == 0 || sampleRate > INT_MAX || channels < 1 || channels > 2)
    return nullptr;
  AVCodecContext* c = avcodec_alloc_context3(codec);
  if (!c) return nullptr;
  c->sample_fmt = AV_SAMPLE_FMT_FLTP;
  c->sample_rate = static_cast<int>(sampleRate);
  av_channel_layout_default(&c->ch_layout, static_cast<int>(channels));
  c->bit_rate = bitRate;
  c->time_base = AVRational{1, c->sample_rate};
  c->thread_count = 1;  // no threads of FFmpeg's own in this process
  if (avcodec_open2(c, codec, nullptr) < 0 || c->frame_size <= 0) avcodec_free_context(&c);
  return c;
}

int32_t Fail(AsfWmaWriter* w, int32_t result) {
  if (w->failure == kOk) w->failure = result;
  return w->failure;
}

int32_t MuxPackets(AsfWmaWriter* w) {
  for (;;) {
    const int got = avcodec_receive_packet(w->encoder, w->packet);
    if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return kOk;
    if (got < 0) return Fail(w, FromAvError(got));
    w->packet->stream_index = 0;
    av_packet_rescale_ts(w->packet, w->encoder->time_base, w->mux->streams[0]->time_base);
    const int written = av_write_frame(w->mux, w->packet);
    av_packet_unref(w->packet);
    if (written < 0) return Fail(w, FromAvError(written));
    if (w->io->error < 0) return Fail(w, FromAvError(w->io->error));
  }
}

// Encodes every whole frame waiting in the queue.
int32_t EncodeQueued(AsfWmaWriter* w) {
  const int size = w->encoder->frame_size;
  while (av_audio_fifo_size(w->queue) >= size) {
    if (av_frame_make_writable(w->frame) < 0) return Fail(w, kNoMemory);
    av_audio_fifo_read(w->queue, reinterpret_cast<void**>(w->frame->data), size);
    w->frame->pts = w->nextPts;
    w->nextPts += size;
    const int sent = avcodec_send_frame(w->encoder, w->frame);
    if (sent < 0) return Fail(w, FromAvError(sent));
    if (MuxPackets(w) != kOk) return w->failure;
  }
  return kOk;
}

int32_t QueueSilence(AsfWmaWriter* w, int count) {
  if (count <= 0) return kOk;
  const int channels = w->encoder->ch_layout.nb_channels;
  std::vector<float> zeros(static_cast<size_t>(count), 0.0f);
  void* planes[2] = {zeros.data(), zeros.data()};
  if (channels > 2 || av_audio_fifo_write(w->queue, planes, count) != count)
    return Fail(w, kNoMemory);
  return kOk;
}

// Converts count input samples (per channel) and queues them; null in flushes the converter.
int32_t QueueConverted(AsfWmaWriter* w, const uint8_t* in, int count) {
  const int room = swr_get_out_samples(w->convert, count);
  if (room < 0) return Fail(w, kFailed);
  const int channels = w->encoder->ch_layout.nb_channels;
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
  std::snprintf(text, sizeof text, "%s %06u %u", count, static_cast<unsigned>(w->encoder->sample_rate),
                static_cast<unsigned>(w->encoder->ch_layout.nb_channels));
  av_dict_set(&w->mux->metadata, kSampleCountTag, text, 0);
}

// Sets up conversion and the ASF file once both formats are known, and queues the
// leading frame of silence.
int32_t Start(AsfWmaWriter* w) {
  if (w->started) return w->failure;
  if (!w->encoder || !w->inBits) return kWrongState;
  w->started = true;
  AVCodecContext* e = w->encoder;
  AVChannelLayout inLayout;
  av_channel_layout_default(&inLayout, static_cast<int>(w->inChannels));
  const AVSampleFormat inFormat = w->inBits == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
  if (swr_alloc_set_opts2(&w->convert, &e->ch_layout, AV_SAMPLE_FMT_FLTP, e->sample_rate,
                          &inLayout, inFormat, static_cast<int>(w->inRate), 0, nullptr) < 0 ||
      swr_init(w->convert) < 0)
    return Fail(w, kRefused);
  w->queue = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, e->ch_layout.nb_channels, e->frame_size * 4);
  w->frame = av_frame_alloc();
  w->packet = av_packet_alloc();
  if (!w->queue || !w->frame || !w->packet) return Fail(w, kNoMemory);
  w->frame->format = AV_SAMPLE_FMT_FLTP;
  w->frame->nb_samples = e->frame_size;
  if (av_channel_layout_copy(&w->frame->ch_layout, &e->ch_layout) < 0 ||
      av_frame_get_buffer(w->frame, 0) < 0)
    return Fail(w, kNoMemory);

  if (avformat_alloc_output_context2(&w->mux, nullptr, "asf", nullptr) < 0)
    return Fail(w, kFailed);
  w->mux->pb = w->io;
  AVStream* stream = avformat_new_stream(w->mux, nullptr);
  if (!stream || avcodec_parameters_from_context(stream->codecpar, e) < 0)
    return Fail(w, kNoMemory);
  stream->time_base = e->time_base;
  SetSampleCountTag(w, -1);
  const int header = avformat_write_header(w->mux, nullptr);
  if (header < 0) return Fail(w, FromAvError(header));
  if (w->io->error < 0) return Fail(w, FromAvError(w->io->error));

  const int lead = e->initial_padding > 0 ? e->initial_padding : e->frame_size;
  w->nextPts = lead;  // the first packet then carries time 0
  return QueueSilence(w, lead);
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
  auto* w = new (std::nothrow) AsfWmaWriter;
  if (!w) {
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
  // The encoder refuses rates below its floor (24 kbps in FFmpeg 5.1): take the lowest it
  // accepts at or above the one asked for.
  for (uint32_t rate = bitRate < kBitRateStep ? kBitRateStep : bitRate; rate <= kHighestBitRate;
       rate += kBitRateStep) {
    if (AVCodecContext* e = NewEncoder(rate, sampleRate, channels)) {
      avcodec_free_context(&w->encoder);
      w->encoder = e;
      *written = rate;
      return kOk;
    }
    if (!avcodec_find_encoder(AV_CODEC_ID_WMAV2)) break;
  }
  return kRefused;
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
  const int size = w->encoder->frame_size;
  const int partial = av_audio_fifo_size(w->queue) % size;
  if (QueueSilence(w, (partial ? size - partial : 0) + size) || EncodeQueued(w)) return w->failure;
  const int flushed = avcodec_send_frame(w->encoder, nullptr);
  if (flushed < 0) return Fail(w, FromAvError(flushed));
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
