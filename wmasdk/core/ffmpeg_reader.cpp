// Decoding: packets of the chosen stream go through FFmpeg's decoder and a converter to
// 16-bit interleaved PCM at the stream's own rate, mono or stereo. Packets that do not
// decode are skipped; the stream then ends as damaged, with everything that did decode.
// The length to expect comes from the header's play duration, bounded by what its data
// object can hold at the stream's bit rate; files of our writer carry their exact sample
// count, believed where it agrees with that duration.
#include "ffmpeg_reader.h"

#include "asf_header_facts.h"
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
#include <atomic>
#include <cstring>
#include <new>
#include <vector>

namespace wmacore {

constexpr int kMostChannels = 8;
// Reads that do not move through the file before the stream is given up as damaged.
constexpr int kStalledReadLimit = 1000;
// File bytes one ReadPcm may consume without producing PCM before the rest is given up.
constexpr int64_t kMostBytesWithoutPcm = 16 << 20;

class AsfWmaReader {
 public:
  ~AsfWmaReader() {
    avcodec_free_context(&decoder);
    avformat_close_input(&demux);
    swr_free(&convert);
    av_channel_layout_uninit(&frameLayout);
    av_frame_free(&frame);
    av_packet_free(&packet);
  }

  AVFormatContext* demux = nullptr;
  AVCodecContext* decoder = nullptr;
  SwrContext* convert = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  int streamIndex = -1;
  int rate = 0;
  int channels = 0;             // of the decoded PCM: 1 or 2
  AVChannelLayout frameLayout{};  // of the first decoded frame, which set up the converter
  int frameFormat = -1;
  int64_t limit = -1;      // samples per channel to deliver; -1: all that decode
  int64_t expected = 0;    // samples per channel the header's duration promises
  int64_t delivered = 0;   // samples per channel converted so far
  int64_t frameSamples = 0;  // of one frame of the stream
  bool estimated = false;    // expected is a guess from the file's size: not a measure of damage
  std::vector<uint8_t> pending;  // converted PCM not yet handed out
  size_t pendingPos = 0;
  bool inputDone = false, decoderDone = false, damaged = false;
  int stalledReads = 0;
  int64_t lastPosition = -1;
  std::atomic<bool> stop{false};
};

namespace {

bool IsWmaFamily(AVCodecID id) {
  return id == AV_CODEC_ID_WMAV1 || id == AV_CODEC_ID_WMAV2 || id == AV_CODEC_ID_WMAPRO ||
         id == AV_CODEC_ID_WMALOSSLESS || id == AV_CODEC_ID_WMAVOICE;
}

int Interrupted(void* reader) { return static_cast<AsfWmaReader*>(reader)->stop.load() ? 1 : 0; }

// The samples of one frame of the stream, as FFmpeg's WMA decoders size them: the
// tolerance of a stored count and of a stream that ends early.
constexpr int64_t kCountTolerance = 4;
int64_t FrameSamples(AVCodecID id, int rate) {
  if (id == AV_CODEC_ID_WMAVOICE) return 160;
  const bool v1 = id == AV_CODEC_ID_WMAV1, pro = id == AV_CODEC_ID_WMAPRO || id == AV_CODEC_ID_WMALOSSLESS;
  if (rate <= 16000) return 512;
  if (rate <= 22050 || (v1 && rate <= 32000)) return 1024;
  if (rate <= 48000 || !pro) return 2048;
  return rate <= 96000 ? 4096 : 8192;
}

bool ReadAt(void* source, uint64_t at, uint8_t* out, size_t n) {
  auto* io = static_cast<AVIOContext*>(source);
  return at <= static_cast<uint64_t>(INT64_MAX) && avio_seek(io, static_cast<int64_t>(at), SEEK_SET) >= 0 &&
         avio_read(io, out, static_cast<int>(n)) == static_cast<int>(n);
}

// The header's facts, read with the demuxer's own I/O (so past the ID3v2 tags FFmpeg
// skipped, and through a header of any size), which is put back where the demuxer left it.
AsfHeaderFacts ReadHeaderFacts(AVIOContext* io) {
  const int64_t resume = avio_tell(io);
  const AsfHeaderFacts facts = ReadAsfHeaderFacts(ReadAt, io);
  avio_seek(io, resume, SEEK_SET);
  return facts;
}

// bytes at bitRate bit/s, in ms, without overflow; -1 when either is unknown.
int64_t BytesToMs(int64_t bytes, int64_t bitRate) {
  if (bytes < 0 || bitRate <= 0) return -1;
  constexpr int64_t kLongestMs = int64_t{1} << 40;  // 35 years
  const int64_t whole = bytes / bitRate, part = bytes % bitRate;
  if (whole >= kLongestMs / 8000) return kLongestMs;
  return whole * 8000 + static_cast<int64_t>(static_cast<double>(part) * 8000 / static_cast<double>(bitRate));
}

// Without a usable duration in the header (a file written to a pipe, or a broadcast): the
// send time of the file's last whole packet after the first one's, which falls short of
// the end by at most one packet; else the bytes present at the stream's bit rate.
int64_t EstimatedMs(AVIOContext* io, const AsfHeaderFacts& facts, int64_t bitRate) {
  const uint64_t packetsAt = facts.headerStart + facts.headerBytes + 50;
  const int64_t size = avio_size(io);
  if (size <= 0 || static_cast<uint64_t>(size) <= packetsAt) return 0;
  int64_t present = size - static_cast<int64_t>(packetsAt);
  if (facts.dataPayloadBytes >= 0) present = std::min(present, facts.dataPayloadBytes);
  const int64_t packets = facts.packetBytes ? present / facts.packetBytes : 0;
  if (packets >= 2) {
    uint8_t first[kAsfPacketHeadBytes], last[kAsfPacketHeadBytes];
    const uint64_t lastAt = packetsAt + static_cast<uint64_t>(packets - 1) * facts.packetBytes;
    if (ReadAt(io, packetsAt, first, sizeof first) && ReadAt(io, lastAt, last, sizeof last)) {
      const int64_t from = AsfPacketSendMs(first), to = AsfPacketSendMs(last);
      if (from >= 0 && to > from) return std::min(to - from, BytesToMs(present, bitRate) + 1000);
    }
  }
  return std::max<int64_t>(BytesToMs(present, bitRate), 0);
}

// How long the stream should play: the header's play duration, no longer than its data
// object could carry at the stream's bit rate (a forged duration would promise gigabytes).
// *estimated when the header has no duration and the length is guessed from the file.
int64_t ExpectedMs(AVIOContext* io, const AsfHeaderFacts& facts, int64_t bitRate, bool* estimated) {
  *estimated = facts.playMs < 0;
  if (*estimated) return EstimatedMs(io, facts, bitRate);
  const int64_t carried = BytesToMs(facts.dataPayloadBytes, bitRate);
  return carried >= 0 ? std::min(facts.playMs, carried) : facts.playMs;
}

// Our writer's exact count, where it describes this stream: the same rate and channels,
// and within four frames of the header's duration (a re-encoded copy keeps the tag; our
// writer's own silence before and after the input makes up to three).
int64_t BelievedSampleCount(AVFormatContext* f, int rate, int channels, int64_t frame, int64_t expected) {
  const AVDictionaryEntry* e = av_dict_get(f->metadata, kSampleCountTag, nullptr, AV_DICT_MATCH_CASE);
  const SampleCountTag tag = ParseSampleCountTag(e ? e->value : nullptr);
  if (tag.samples < 0) return -1;
  if (tag.rate && (tag.rate != static_cast<uint32_t>(rate) || tag.channels != static_cast<uint32_t>(channels)))
    return -1;
  const int64_t apart = tag.samples > expected ? tag.samples - expected : expected - tag.samples;
  return apart <= kCountTolerance * frame ? tag.samples : -1;
}

int32_t Open(AsfWmaReader* r, const char* path, StreamInfo* out) {
  const AVInputFormat* asf = av_find_input_format("asf");
  if (!asf) return kRefused;
  r->demux = avformat_alloc_context();
  if (!r->demux) return kNoMemory;
  r->demux->interrupt_callback.callback = Interrupted;
  r->demux->interrupt_callback.opaque = r;
  const int opened = avformat_open_input(&r->demux, path, asf, nullptr);
  if (opened < 0) {
    const int32_t result = FromAvError(opened);
    return result == kFailed ? kRefused : result;
  }
  // FFmpeg found a header; ours must be where it looked, or the checks below are blind.
  const AsfHeaderFacts facts = ReadHeaderFacts(r->demux->pb);
  if (!facts.valid) return kRefused;
  if (facts.protectedContent) return kProtected;
  for (unsigned i = 0; i < r->demux->nb_streams; ++i) {
    const AVCodecParameters* p = r->demux->streams[i]->codecpar;
    if (p->codec_type == AVMEDIA_TYPE_AUDIO && IsWmaFamily(p->codec_id)) {
      r->streamIndex = static_cast<int>(i);
      break;
    }
  }
  if (r->streamIndex < 0) return kRefused;
  for (unsigned i = 0; i < r->demux->nb_streams; ++i)
    if (static_cast<int>(i) != r->streamIndex) r->demux->streams[i]->discard = AVDISCARD_ALL;
  const AVCodecParameters* p = r->demux->streams[r->streamIndex]->codecpar;
  r->rate = p->sample_rate;
  const int sourceChannels = p->ch_layout.nb_channels;
  if (r->rate <= 0 || r->rate > 384000 || sourceChannels < 1 || sourceChannels > kMostChannels)
    return kRefused;
  r->channels = std::min(sourceChannels, 2);

  const AVCodec* codec = avcodec_find_decoder(p->codec_id);
  if (!codec) return kRefused;
  r->decoder = avcodec_alloc_context3(codec);
  if (!r->decoder || avcodec_parameters_to_context(r->decoder, p) < 0) return kNoMemory;
  r->decoder->thread_count = 1;
  r->decoder->pkt_timebase = r->demux->streams[r->streamIndex]->time_base;
  if (avcodec_open2(r->decoder, codec, nullptr) < 0) return kRefused;
  r->frame = av_frame_alloc();
  r->packet = av_packet_alloc();
  if (!r->frame || !r->packet) return kNoMemory;

  const int64_t bitRate = p->bit_rate > 0 ? p->bit_rate : r->demux->bit_rate;
  r->frameSamples = FrameSamples(p->codec_id, r->rate);
  const int64_t resume = avio_tell(r->demux->pb);
  const int64_t ms = ExpectedMs(r->demux->pb, facts, bitRate, &r->estimated);
  avio_seek(r->demux->pb, resume, SEEK_SET);  // where the demuxer's first packet waits
  r->expected = av_rescale(ms, r->rate, 1000);
  r->limit = BelievedSampleCount(r->demux, r->rate, r->channels, r->frameSamples, r->expected);
  if (r->limit >= 0) r->expected = r->limit;
  out->sampleRate = static_cast<uint32_t>(r->rate);
  out->channels = static_cast<uint32_t>(r->channels);
  out->bitRate = static_cast<uint32_t>(std::clamp<int64_t>(bitRate, 0, UINT32_MAX));
  out->durationMs = static_cast<uint32_t>(std::clamp<int64_t>(av_rescale(r->expected, 1000, r->rate), 0, UINT32_MAX));
  out->samples = r->expected;
  return kOk;
}

// Converts a decoded frame into pending PCM, up to the stream's sample count.
void Convert(AsfWmaReader* r) {
  AVFrame* f = r->frame;
  if (f->sample_rate != r->rate || f->nb_samples <= 0 || f->ch_layout.nb_channels < 1) {
    r->damaged = true;  // a frame unlike the stream's header: not ours to pass on
    return;
  }
  if (!r->convert) {
    // The first frame sets up the converter; more than two channels fold down to stereo.
    AVChannelLayout outLayout;
    av_channel_layout_default(&outLayout, r->channels);
    if (av_channel_layout_copy(&r->frameLayout, &f->ch_layout) < 0 ||
        swr_alloc_set_opts2(&r->convert, &outLayout, AV_SAMPLE_FMT_S16, r->rate, &f->ch_layout,
                            static_cast<AVSampleFormat>(f->format), r->rate, 0, nullptr) < 0 ||
        swr_init(r->convert) < 0) {
      r->damaged = true;
      swr_free(&r->convert);
      return;
    }
    r->frameFormat = f->format;
  } else if (f->format != r->frameFormat || av_channel_layout_compare(&f->ch_layout, &r->frameLayout) != 0) {
    r->damaged = true;  // a later frame in another format or layout is damage, not more input
    return;
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

// Decodes until some PCM is pending or the stream is over (or stopped, or too much of
// the file went by without PCM).
void DecodeMore(AsfWmaReader* r) {
  const int64_t from = avio_tell(r->demux->pb);
  while (r->pendingPos == r->pending.size() && !r->decoderDone) {
    if (r->stop.load() || avio_tell(r->demux->pb) - from > kMostBytesWithoutPcm) {
      r->damaged = r->inputDone = r->decoderDone = true;
      break;
    }
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

uint32_t ReadPcmUnguarded(AsfWmaReader* r, uint8_t* out, uint32_t room, uint32_t* state, uint32_t* stored);

}  // namespace

AsfWmaReader* OpenReader(const char* path, StreamInfo* info, int32_t* result) {
  av_log_set_level(AV_LOG_QUIET);  // FFmpeg's messages would reach the host's console
  auto* r = new (std::nothrow) AsfWmaReader;
  if (!r) {
    *result = kNoMemory;
    return nullptr;
  }
  try {
    *result = Open(r, path, info);
  } catch (...) {  // no exception leaves the library: a failed allocation is out of memory
    *result = kNoMemory;
  }
  if (*result != kOk) {
    delete r;
    return nullptr;
  }
  return r;
}

uint32_t ReadPcm(AsfWmaReader* r, uint8_t* out, uint32_t room, uint32_t* state) {
  uint32_t stored = 0;
  try {
    return ReadPcmUnguarded(r, out, room, state, &stored);
  } catch (...) {
    // No exception leaves the library: what was stored goes out, and the stream ends damaged.
    r->pending.clear();
    r->pendingPos = 0;
    r->damaged = r->inputDone = r->decoderDone = true;
    *state = kDamaged;
    return stored;
  }
}

void StopReader(AsfWmaReader* r) { r->stop.store(true); }

void CloseReader(AsfWmaReader* r) { delete r; }

namespace {

uint32_t ReadPcmUnguarded(AsfWmaReader* r, uint8_t* out, uint32_t room, uint32_t* state, uint32_t* storedOut) {
  const uint32_t align = static_cast<uint32_t>(r->channels) * 2;
  room -= room % align;
  uint32_t& stored = *storedOut;
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
    *state = kMore;
  } else {
    // Short of what the header promised by more than the decoder's last frames: cut off.
    const int64_t slack = r->limit >= 0 ? 0 : 3 * r->frameSamples + r->rate / 10;
    if (!r->estimated && r->delivered + slack < r->expected) r->damaged = true;
    *state = r->damaged ? kDamaged : kEnded;
  }
  return stored;
}

}  // namespace
}  // namespace wmacore
