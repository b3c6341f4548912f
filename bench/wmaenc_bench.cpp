// Our WMA encoder beside FFmpeg's wmav2 encoder at rows 28 (64 kbps) and 31 (128 kbps),
// 44.1 kHz stereo: encoding speed (times real time) and, decoded by FFmpeg's wmav2
// decoder, the SNR and segmental SNR against the input on two signals of our own. Figures
// only: SNR is no measure of what is heard (see the PEAQ benchmarks for that).
//   wmaenc_bench [SECONDS [WAV_FOLDER]]
// With a folder it also writes each input and both decodes there, lined up, as 16-bit WAV
// (bench/wmaenc_peaq.sh grades them with PEAQ).
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "encoder.h"
#include "tools/wmav2_decode.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int32_t kRate = 44100;

struct Stream {
  std::vector<std::vector<uint8_t>> packets;
  std::vector<uint8_t> extradata;
  int32_t blockAlign = 0;
  double seconds = 0;  // encoding time
};

// A band: a chord, a kick every half second, hi-hat noise bursts between; the other
// signal: clicks over a sustained organ chord.
std::vector<float> Signal(int32_t kind, int32_t ch, int32_t length) {
  std::vector<float> s(length);
  uint32_t seed = 5u + ch;
  for (int32_t i = 0; i < length; ++i) {
    const double t = static_cast<double>(i) / kRate;
    seed = seed * 1664525u + 1013904223u;
    const double noise = static_cast<int32_t>(seed) / 2147483648.0;
    const double beat = std::fmod(t, 0.5);
    double v = 0;
    if (kind == 0) {
      v = 0.12 * (std::sin(2 * M_PI * 220 * t) + std::sin(2 * M_PI * 277.2 * t + ch) + std::sin(2 * M_PI * 329.6 * t));
      v += 0.5 * std::sin(2 * M_PI * (60 + 60 * std::exp(-beat * 30)) * beat) * std::exp(-beat * 12);
      const double hat = std::fmod(t + 0.25, 0.5);
      v += 0.15 * noise * std::exp(-hat * 60);
    } else {
      for (int32_t h = 1; h <= 6; ++h) v += 0.05 / h * (std::sin(2 * M_PI * 196 * h * t) + std::sin(2 * M_PI * 293.7 * h * t));
      if (std::fmod(t, 0.37) < 0.002) v += 0.6 * noise;
    }
    s[i] = static_cast<float>(v);
  }
  return s;
}

Stream Ours(const std::vector<float>* pcm, int32_t bitRate) {
  Stream out;
  wmaenc::StreamSetup setup;
  wmaenc::MakeStreamSetup(kRate, 2, bitRate, &setup);
  wmaenc::Encoder enc;
  enc.Open(setup, false);
  const int32_t f = setup.frameLength;
  const auto start = Clock::now();
  std::vector<uint8_t> p;
  for (size_t i = 0; i + f <= pcm[0].size(); i += f) {
    const float* planes[2] = {pcm[0].data() + i, pcm[1].data() + i};
    enc.EncodeFrame(planes);
    while (enc.TakePacket(&p)) out.packets.push_back(p);
  }
  enc.Finish();
  while (enc.TakePacket(&p)) out.packets.push_back(p);
  out.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  out.extradata.assign(setup.extradata, setup.extradata + wmaenc::kExtradataSize);
  out.blockAlign = setup.packetBytes;
  return out;
}

Stream Ffmpegs(const std::vector<float>* pcm, int32_t bitRate) {
  Stream out;
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
  AVCodecContext* c = avcodec_alloc_context3(codec);
  c->sample_fmt = AV_SAMPLE_FMT_FLTP;
  c->sample_rate = kRate;
  av_channel_layout_default(&c->ch_layout, 2);
  c->bit_rate = bitRate;
  if (avcodec_open2(c, codec, nullptr) < 0) std::exit(1);
  AVFrame* frame = av_frame_alloc();
  frame->format = AV_SAMPLE_FMT_FLTP;
  frame->nb_samples = c->frame_size;
  av_channel_layout_copy(&frame->ch_layout, &c->ch_layout);
  av_frame_get_buffer(frame, 0);
  AVPacket* pkt = av_packet_alloc();
  const auto start = Clock::now();
  auto drain = [&] {
    while (avcodec_receive_packet(c, pkt) == 0) {
      out.packets.emplace_back(pkt->data, pkt->data + pkt->size);
      av_packet_unref(pkt);
    }
  };
  for (size_t i = 0; i + c->frame_size <= pcm[0].size(); i += c->frame_size) {
    av_frame_make_writable(frame);
    for (int32_t ch = 0; ch < 2; ++ch)
      std::copy(pcm[ch].begin() + i, pcm[ch].begin() + i + c->frame_size, reinterpret_cast<float*>(frame->data[ch]));
    avcodec_send_frame(c, frame);
    drain();
  }
  avcodec_send_frame(c, nullptr);
  drain();
  out.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  out.extradata.assign(c->extradata, c->extradata + c->extradata_size);
  out.blockAlign = c->block_align;
  av_packet_free(&pkt);
  av_frame_free(&frame);
  avcodec_free_context(&c);
  return out;
}

struct Pcm {
  std::vector<float> ch[2];
};

Pcm Decode(const Stream& s, int32_t bitRate) {
  wmaenc::Wmav2Stream stream;
  stream.sampleRate = kRate;
  stream.channels = 2;
  stream.bitRate = bitRate;
  stream.blockAlign = s.blockAlign;
  stream.extradata = s.extradata;
  wmaenc::Wmav2Decoded d = wmaenc::DecodeWmav2(stream, s.packets);
  if (!d.opened) std::exit(1);
  Pcm out;
  for (int32_t ch = 0; ch < 2; ++ch) out.ch[ch] = std::move(d.samples[ch]);
  return out;
}

// SNR and segmental SNR (2048-sample segments, each clamped to -10..60 dB) at the lag
// (within four frames either way) where the decoded left channel best matches.
int32_t Compare(const std::vector<float>& in, const std::vector<float>& out, double* snr, double* segmental) {
  double best = -1e9;
  int32_t bestLag = 0;
  for (int32_t lag = -8192; lag <= 8192; lag += 1) {
    if (lag % 512 != 0) continue;
    double err = 0, ref = 0;
    for (size_t i = 8192; i + 8192 < in.size() && i + lag < out.size(); i += 7) {
      const double d = out[i + lag] - in[i];
      err += d * d;
      ref += static_cast<double>(in[i]) * in[i];
    }
    const double s = 10 * std::log10(ref / std::max(err, 1e-20));
    if (s > best) { best = s; bestLag = lag; }
  }
  *snr = best;
  double sum = 0;
  int32_t count = 0;
  for (size_t i = 8192; i + 8192 < in.size() && i + bestLag + 2048 < out.size(); i += 2048) {
    double err = 0, ref = 0;
    for (size_t j = i; j < i + 2048; ++j) {
      const double d = out[j + bestLag] - in[j];
      err += d * d;
      ref += static_cast<double>(in[j]) * in[j];
    }
    sum += std::clamp(10 * std::log10(std::max(ref, 1e-20) / std::max(err, 1e-20)), -10.0, 60.0);
    ++count;
  }
  *segmental = count ? sum / count : 0;
  return bestLag;
}

void WriteWav(const char* path, const std::vector<float>* pcm, int32_t lag, size_t length) {
  FILE* f = std::fopen(path, "wb");
  if (!f) return;
  const uint32_t bytes = static_cast<uint32_t>(length * 4);
  auto u32 = [&](uint32_t v) { std::fwrite(&v, 4, 1, f); };
  auto u16 = [&](uint16_t v) { std::fwrite(&v, 2, 1, f); };
  std::fwrite("RIFF", 1, 4, f); u32(36 + bytes); std::fwrite("WAVEfmt ", 1, 8, f);
  u32(16); u16(1); u16(2); u32(kRate); u32(kRate * 4); u16(4); u16(16);
  std::fwrite("data", 1, 4, f); u32(bytes);
  for (size_t i = 0; i < length; ++i) {
    for (int32_t ch = 0; ch < 2; ++ch) {
      const int64_t j = static_cast<int64_t>(i) + lag;
      const float v = j >= 0 && j < static_cast<int64_t>(pcm[ch].size()) ? pcm[ch][j] : 0.0f;
      const int16_t q = static_cast<int16_t>(std::lround(std::clamp(v, -1.0f, 32767.0f / 32768.0f) * 32768.0f));
      std::fwrite(&q, 2, 1, f);
    }
  }
  std::fclose(f);
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 20.0;
  const char* folder = argc > 2 ? argv[2] : nullptr;
  const int32_t length = static_cast<int32_t>(seconds * kRate);
  const char* names[2] = {"band", "clicks over organ"};
  std::printf("44.1 kHz stereo, %.0f s per signal; SNR / segmental SNR (dB) of the left channel, speed (x real time)\n", seconds);
  for (const int32_t kbps : {64, 128}) {
    for (int32_t kind = 0; kind < 2; ++kind) {
      const std::vector<float> pcm[2] = {Signal(kind, 0, length), Signal(kind, 1, length)};
      const Stream ours = Ours(pcm, kbps * 1000), theirs = Ffmpegs(pcm, kbps * 1000);
      double s1, g1, s2, g2;
      const Pcm a = Decode(ours, kbps * 1000), b = Decode(theirs, kbps * 1000);
      const int32_t lagA = Compare(pcm[0], a.ch[0], &s1, &g1);
      const int32_t lagB = Compare(pcm[0], b.ch[0], &s2, &g2);
      if (folder) {
        char path[512];
        std::snprintf(path, sizeof path, "%s/in-%d.wav", folder, kind);
        WriteWav(path, pcm, 0, pcm[0].size());
        std::snprintf(path, sizeof path, "%s/ours-%d-%d.wav", folder, kbps, kind);
        WriteWav(path, a.ch, lagA, pcm[0].size());
        std::snprintf(path, sizeof path, "%s/ffmpeg-%d-%d.wav", folder, kbps, kind);
        WriteWav(path, b.ch, lagB, pcm[0].size());
      }
      std::printf("%3d kbps %-18s ours %5.1f / %5.1f dB %6.0fx   ffmpeg wmav2 %5.1f / %5.1f dB %6.0fx\n", kbps, names[kind],
                  s1, g1, seconds / ours.seconds, s2, g2, seconds / theirs.seconds);
    }
  }
  return 0;
}
