// Decoding: packets of the chosen stream go through FFmpeg's decoder and a converter to
// 16-bit interleaved PCM at the stream's own rate and channels. Packets that do not
// decode are skipped; the stream then ends as damaged, with everything that did decode.
// Files of our writer carry their exact sample count and end there.
#include "ffmpeg_reader.h"

#include "av_result.h"
#include "wma_stream_tag.h"

extern "C" {
#include <libavutil/log.h>
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace wmaunix {

constexpr int kMostChannels = 8;
// Reads that do not move through the file before the stream is given up as damaged.
constexpr int kStalledReadLimit = 1000;

class AsfWmaReader {
 public:
  ~AsfWmaReader() {
    avcodec_free_context(&decoder);
    avformat_close_input(&demux);
    swr_free(&convert);
    av_frame_free(&frame);
    av_packet_free(&packet);
  }

  AVFormatContext* demux = nullptr;
  AVCodecContext* decoder = nullptr;
  SwrContext* convert = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  int streamIndex = -1;
  int rate = 0, channels = 0;
  int64_t limit = -1;      // samples per channel to deliver; -1: all that decode
  int64_t expected = 0;    // samples per channel the header's duration promises
  int64_t delivered = 0;   // samples per channel converted so far
  std::vector<uint8_t> pending;  // converted PCM not yet handed out
  size_t pendingPos = 0;
  bool inputDone = false, decoderDone = false, damaged = false;
  int stalledReads = 0;
  int64_t lastPosition = -1;
};

namespace {

bool IsWmaFamily(AVCodecID id) {
  return id == AV_CODEC_ID_WMAV1 || id == AV_CODEC_ID_WMAV2 || id == AV_CODEC_ID_WMAPRO ||
         id == AV_CODEC_ID_WMALOSSLESS || id == AV_CODEC_ID_WMAVOICE;
}

int64_t TaggedSampleCount(AVFormatContext* f) {
  const AVDictionaryEntry* e = av_dict_get(f->metadata, kSampleCountTag, nullptr, 0);
  if (!e || std::strlen(e->value) != static_cast<size_t>(kSampleCountDigits)) return -1;
  char* end = nullptr;
  const long long n = std::strtoll(e->value, &end, 10);
  return (*end == '\0' && n >= 0) ? n : -1;
}

int32_t Open(AsfWmaReader* r, const char* path, WmaBridgeStream* out) {
  const AVInputFormat* asf = av_find_input_format("asf");
  if (!asf) return kBridgeRefused;
  const int opened = avformat_open_input(&r->demux, path, asf, nullptr);
  if (opened < 0) {
    const int32_t result = FromAvError(opened);
    return result == kBridgeFailed ? kBridgeRefused : result;
  }
  for (unsigned i = 0; i < r->demux->nb_streams; ++i) {
    const AVCodecParameters* p = r->demux->streams[i]->codecpar;
    if (p->codec_type == AVMEDIA_TYPE_AUDIO && IsWmaFamily(p->codec_id)) {
      r->streamIndex = static_cast<int>(i);
      break;
    }
  }
  if (r->streamIndex < 0) return kBridgeRefused;
  for (unsigned i = 0; i < r->demux->nb_streams; ++i)
    if (static_cast<int>(i) != r->streamIndex) r->demux->streams[i]->discard = AVDISCARD_ALL;
  const AVCodecParameters* p = r->demux->streams[r->streamIndex]->codecpar;
  r->rate = p->sample_rate;
  r->channels = p->ch_layout.nb_channels;
  if (r->rate <= 0 || r->rate > 384000 || r->channels < 1 || r->channels > kMostChannels)
    return kBridgeRefused;

  const AVCodec* codec = avcodec_find_decoder(p->codec_id);
  if (!codec) return kBridgeRefused;
  r->decoder = avcodec_alloc_context3(codec);
  if (!r->decoder || avcodec_parameters_to_context(r->decoder, p) < 0) return kBridgeNoMemory;
  r->decoder->thread_count = 1;
  r->decoder->pkt_timebase = r->demux->streams[r->streamIndex]->time_base;
  if (avcodec_open2(r->decoder, codec, nullptr) < 0) return kBridgeRefused;
  r->frame = av_frame_alloc();
  r->packet = av_packet_alloc();
  if (!r->frame || !r->packet) return kBridgeNoMemory;

  r->limit = TaggedSampleCount(r->demux);
  const int64_t duration = r->demux->duration > 0 ? r->demux->duration : 0;
  r->expected = r->limit >= 0 ? r->limit : av_rescale(duration, r->rate, AV_TIME_BASE);
  out->sampleRate = static_cast<uint32_t>(r->rate);
  out->channels = static_cast<uint32_t>(r->channels);
  const int64_t bitRate = p->bit_rate > 0 ? p->bit_rate : r->demux->bit_rate;
  out->bitRate = static_cast<uint32_t>(std::clamp<int64_t>(bitRate, 0, UINT32_MAX));
  const int64_t ms = r->limit >= 0 ? av_rescale(r->limit, 1000, r->rate) : duration / 1000;
  out->durationMs = static_cast<uint32_t>(std::clamp<int64_t>(ms, 0, UINT32_MAX));
  return kBridgeOk;
}

// Converts a decoded frame into pending PCM, up to the stream's sample count.
void Convert(AsfWmaReader* r) {
  AVFrame* f = r->frame;
  if (f->ch_layout.nb_channels != r->channels || f->sample_rate != r->rate || f->nb_samples <= 0) {
    r->damaged = true;  // a frame unlike the stream's header: not ours to pass on
    return;
  }
  if (!r->convert) {
    if (swr_alloc_set_opts2(&r->convert, &f->ch_layout, AV_SAMPLE_FMT_S16, r->rate, &f->ch_layout,
                            static_cast<AVSampleFormat>(f->format), r->rate, 0, nullptr) < 0 ||
        swr_init(r->convert) < 0) {
      r->damaged = true;
      return;
    }
  }
  int count = f->nb_samples;
  if (r->limit >= 0) count = static_cast<int>(std::min<int64_t>(count, r->limit - r->delivered));
  if (count <= 0) return;
  const size_t bytes = static_cast<size_t>(count) * r->channels * 2;
  r->pending.resize(bytes);
  r->pendingPos = 0;
  uint8_t* out[1] = {r->pending.data()};
  const int got = swr_convert(r->convert, out, count, const_cast<const uint8_t**>(f->extended_data), count);
  if (got < 0) {
    r->pending.clear();
    r->damaged = true;
    return;
  }
  r->pending.resize(static_cast<size_t>(got) * r->channels * 2);
  r->delivered += got;
}

// Feeds the decoder the next packet of the stream, or its end.
void FeedDecoder(AsfWmaReader* r) {
  const int read = av_read_frame(r->demux, r->packet);
  if (read < 0) {
    if (read != AVERROR_EOF) r->damaged = true;
    r->inputDone = true;
    avcodec_send_packet(r->decoder, nullptr);
    return;
  }
  const int64_t position = avio_tell(r->demux->pb);
  r->stalledReads = position == r->lastPosition ? r->stalledReads + 1 : 0;
  r->lastPosition = position;
  if (r->stalledReads > kStalledReadLimit) r->damaged = r->inputDone = true;
  if (r->packet->stream_index == r->streamIndex) {
    const int sent = avcodec_send_packet(r->decoder, r->packet);
    if (sent < 0 && sent != AVERROR(EAGAIN)) r->damaged = true;  // skipped; decoding goes on
  }
  av_packet_unref(r->packet);
  if (r->inputDone) avcodec_send_packet(r->decoder, nullptr);
}

// Decodes until some PCM is pending or the stream is over.
void DecodeMore(AsfWmaReader* r) {
  while (r->pendingPos == r->pending.size() && !r->decoderDone) {
    if (r->limit >= 0 && r->delivered >= r->limit) {
      r->decoderDone = true;
      break;
    }
    const int got = avcodec_receive_frame(r->decoder, r->frame);
    if (got == 0) {
      Convert(r);
      av_frame_unref(r->frame);
    } else if (got == AVERROR(EAGAIN) && !r->inputDone) {
      FeedDecoder(r);
    } else if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) {
      r->decoderDone = true;
    } else {
      r->damaged = true;  // this frame is lost; the decoder goes on with the next packet
      if (r->inputDone) r->decoderDone = true;
    }
  }
}

}  // namespace

AsfWmaReader* OpenReader(const char* path, WmaBridgeStream* stream) {
  av_log_set_level(AV_LOG_QUIET);  // FFmpeg's messages would reach the host's console
  auto* r = new (std::nothrow) AsfWmaReader;
  if (!r) {
    stream->open.result = kBridgeNoMemory;
    return nullptr;
  }
  stream->open.result = Open(r, path, stream);
  if (stream->open.result != kBridgeOk) {
    delete r;
    return nullptr;
  }
  return r;
}

uint32_t ReadPcm(AsfWmaReader* r, uint8_t* out, uint32_t room, uint32_t* state) {
  const uint32_t align = static_cast<uint32_t>(r->channels) * 2;
  room -= room % align;
  uint32_t stored = 0;
  while (stored < room) {
    DecodeMore(r);
    const size_t left = r->pending.size() - r->pendingPos;
    if (left == 0) break;
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(left, room - stored));
    std::memcpy(out + stored, r->pending.data() + r->pendingPos, n);
    r->pendingPos += n;
    stored += n;
  }
  if (r->pendingPos < r->pending.size() || !r->decoderDone) {
    *state = kBridgeMore;
  } else {
    // Short of what the header promised by more than the decoder's last frames: cut off.
    const int64_t slack = r->limit >= 0 ? 0 : 3 * 4096 + r->rate / 10;
    if (r->delivered + slack < r->expected) r->damaged = true;
    *state = r->damaged ? kBridgeDamaged : kBridgeEnded;
  }
  return stored;
}

void CloseReader(AsfWmaReader* r) { delete r; }

}  // namespace wmaunix
