// dev: wmaenc_wav IN.wav KBPS OUT.wav  (44.1k stereo 16-bit canonical WAV)
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
#include <cstring>
#include <vector>
#include "encoder.h"
int main(int, char** argv) {
  FILE* f = std::fopen(argv[1], "rb");
  std::vector<uint8_t> all; uint8_t buf[65536]; size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) all.insert(all.end(), buf, buf + n);
  std::fclose(f);
  const int32_t rate = 44100;
  size_t frames = (all.size() - 44) / 4;
  std::vector<float> pcm[2];
  for (int c = 0; c < 2; ++c) pcm[c].resize(frames);
  for (size_t i = 0; i < frames; ++i) for (int c = 0; c < 2; ++c) { int16_t v; std::memcpy(&v, &all[44 + 4 * i + 2 * c], 2); pcm[c][i] = v / 32768.0f; }
  const int32_t bitRate = std::atoi(argv[2]) * 1000;
  wmaenc::StreamSetup setup; wmaenc::MakeStreamSetup(rate, 2, bitRate, &setup);
  wmaenc::Encoder enc; enc.Open(setup, false);
  const int32_t F = setup.frameLength;
  std::vector<std::vector<uint8_t>> packets; std::vector<uint8_t> p;
  std::vector<float> fr[2] = {std::vector<float>(F), std::vector<float>(F)};
  auto t0 = std::chrono::steady_clock::now();
  // A frame of silence first: the decoder drops its first frame.
  for (long i = -F; i < (long)frames + F; i += F) {
    for (int c = 0; c < 2; ++c) for (int j = 0; j < F; ++j) fr[c][j] = i + j >= 0 && i + j < (long)frames ? pcm[c][i + j] : 0.f;
    const float* planes[2] = {fr[0].data(), fr[1].data()};
    enc.EncodeFrame(planes);
    while (enc.TakePacket(&p)) packets.push_back(p);
  }
  enc.Finish(); while (enc.TakePacket(&p)) packets.push_back(p);
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_WMAV2);
  AVCodecContext* c = avcodec_alloc_context3(codec);
  c->sample_rate = rate; av_channel_layout_default(&c->ch_layout, 2); c->bit_rate = bitRate; c->block_align = setup.packetBytes;
  c->extradata = (uint8_t*)av_mallocz(wmaenc::kExtradataSize + AV_INPUT_BUFFER_PADDING_SIZE);
  std::memcpy(c->extradata, setup.extradata, wmaenc::kExtradataSize); c->extradata_size = wmaenc::kExtradataSize;
  avcodec_open2(c, codec, nullptr);
  AVPacket* pkt = av_packet_alloc(); AVFrame* frame = av_frame_alloc();
  std::vector<float> out[2];
  auto drain = [&] { while (avcodec_receive_frame(c, frame) == 0) for (int ch = 0; ch < 2; ++ch) { const float* q = (const float*)frame->extended_data[ch]; out[ch].insert(out[ch].end(), q, q + frame->nb_samples);} };
  size_t bytes = 0;
  for (auto& q : packets) { av_new_packet(pkt, q.size()); std::memcpy(pkt->data, q.data(), q.size()); bytes += q.size(); avcodec_send_packet(c, pkt); av_packet_unref(pkt); drain(); }
  avcodec_send_packet(c, nullptr); drain();
  // encoder delay: find lag by best SNR over multiples of 1 in [0, 2F]
  double best = -1e9; int lag = 0;
  for (int L = -2 * F; L <= 2 * F; L += 1) { double e = 0, r = 0; for (size_t i = 2 * F; i < frames && i + L < out[0].size(); i += 13) { double d = out[0][i + L] - pcm[0][i]; e += d * d; r += pcm[0][i] * pcm[0][i]; } double s = r / (e + 1e-20); if (s > best) { best = s; lag = L; } }
  FILE* o = std::fopen(argv[3], "wb");
  uint32_t db = frames * 4; auto u32 = [&](uint32_t v) { std::fwrite(&v, 4, 1, o); }; auto u16 = [&](uint16_t v) { std::fwrite(&v, 2, 1, o); };
  std::fwrite("RIFF", 1, 4, o); u32(36 + db); std::fwrite("WAVEfmt ", 1, 8, o); u32(16); u16(1); u16(2); u32(rate); u32(rate * 4); u16(4); u16(16); std::fwrite("data", 1, 4, o); u32(db);
  double e = 0, r = 0;
  for (size_t i = 0; i < frames; ++i) for (int ch = 0; ch < 2; ++ch) { long j = (long)i + lag; float v = j >= 0 && j < (long)out[ch].size() ? out[ch][j] : 0; double d = v - pcm[ch][i]; e += d*d; r += pcm[ch][i]*pcm[ch][i]; int16_t q = (int16_t)std::lround(std::clamp(v, -1.f, 32767.f / 32768.f) * 32768.f); std::fwrite(&q, 2, 1, o); }
  std::fclose(o);
  const auto& s = enc.stats();
  std::fprintf(stderr, "lag %d snr %.1f dB kbps %.1f speed %.0fx short %lld/%lld reuse %lld ms %lld/%lld filler %lld\n", lag, 10*std::log10(r/e), bytes * 8.0 / (frames / (double)rate) / 1000, frames / (double)rate / secs,
    (long long)s.shortFrames, (long long)s.frames, (long long)s.reusedExponents, (long long)s.midSideBlocks, (long long)s.blocks, (long long)s.fillerBits);
}
