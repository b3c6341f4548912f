// FFmpeg's wmav2 decoder over a list of packets, for the native tests and benches that
// check our encoder against it (header-only: its users link libavcodec themselves).
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
}

#include <cstdint>
#include <cstring>
#include <vector>

#include "stream_setup.h"

namespace wmaenc {

struct Wmav2Stream {
  int32_t sampleRate = 0, channels = 0, bitRate = 0, blockAlign = 0;
  std::vector<uint8_t> extradata;
};

struct Wmav2Decoded {
  bool opened = false;
  std::vector<float> samples[2];  // per channel
  int32_t refusedPackets = 0;
};

inline Wmav2Decoded DecodeWmav2(const Wmav2Stream& s, const std::vector<std::vector<uint8_t>>& packets) {
  Wmav2Decoded out;
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_WMAV2);
  AVCodecContext* c = avcodec_alloc_context3(codec);
  if (!c) return out;
  c->sample_rate = s.sampleRate;
  av_channel_layout_default(&c->ch_layout, s.channels);
  c->bit_rate = s.bitRate;
  c->block_align = s.blockAlign;
  c->extradata = static_cast<uint8_t*>(av_mallocz(s.extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
  if (c->extradata && !s.extradata.empty()) std::memcpy(c->extradata, s.extradata.data(), s.extradata.size());
  c->extradata_size = static_cast<int>(s.extradata.size());
  out.opened = avcodec_open2(c, codec, nullptr) == 0;
  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  auto drain = [&] {
    while (avcodec_receive_frame(c, frame) == 0) {
      for (int32_t ch = 0; ch < s.channels && ch < 2; ++ch) {
        const float* p = reinterpret_cast<const float*>(frame->extended_data[ch]);
        out.samples[ch].insert(out.samples[ch].end(), p, p + frame->nb_samples);
      }
    }
  };
  if (out.opened) {
    for (const auto& p : packets) {
      if (av_new_packet(pkt, static_cast<int>(p.size())) < 0) break;
      std::memcpy(pkt->data, p.data(), p.size());
      if (avcodec_send_packet(c, pkt) < 0) ++out.refusedPackets;
      av_packet_unref(pkt);
      drain();
    }
    avcodec_send_packet(c, nullptr);
    drain();
  }
  av_frame_free(&frame);
  av_packet_free(&pkt);
  avcodec_free_context(&c);
  return out;
}

// The stream our encoder describes.
inline Wmav2Stream StreamOf(const StreamSetup& setup) {
  Wmav2Stream s;
  s.sampleRate = setup.sampleRate;
  s.channels = setup.channels;
  s.bitRate = setup.bitRate;
  s.blockAlign = setup.packetBytes;
  s.extradata.assign(setup.extradata, setup.extradata + kExtradataSize);
  return s;
}

}  // namespace wmaenc
