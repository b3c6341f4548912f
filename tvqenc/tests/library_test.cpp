// The library's entry points, linked in directly: the modes it accepts, the layouts it
// reports, instances that keep their own state, freeing everything, and indices that stay
// in range and decode to finite output whatever samples arrive.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

// Bytes in use on the heap: the sanitizer's count, or glibc's.
#if defined(__SANITIZE_ADDRESS__)
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#define TVQENC_HEAP_BYTES() __sanitizer_get_current_allocated_bytes()
#elif defined(__GLIBC__)
#include <malloc.h>
#define TVQENC_HEAP_BYTES() mallinfo2().uordblks
#endif

#include "decoder_model.h"
#include "frame_values.h"
#include "stream_setup.h"
#include "library_header.h"
#include "tvqenc_api.h"

namespace {

struct Mode { int32_t kHz, kbps; };
// The nine rate modes of the format, each mono and stereo.
const Mode kModes[] = {{8, 8}, {11, 8}, {11, 10}, {16, 16}, {22, 20}, {22, 24}, {22, 32}, {44, 40}, {44, 48}};

struct Stream {
  HeaderInfo header;
  EncoderTuning tuning{16};
  FrameIndex index;
  int32_t result;
  Stream(int32_t kHz, int32_t kbps, int32_t channels) : header(LibraryHeader(kHz, kbps, channels)) {
    std::memset(&index, 0, sizeof index);
    result = TvqEncInitialize(&header, &tuning, &index, 0);
  }
  ~Stream() {
    if (result == 0) TvqEncTerminate(&index);
  }
};

TEST(Library, ReportsTheVersionTheDecodersExpect) {
  char text[20] = {};
  EXPECT_EQ(TvqGetVersionID(0, text), 0);
  EXPECT_STREQ(text, "TWIN97012000");
}

TEST(Library, AcceptsExactlyTheEighteenModesAndReportsTheirLayout) {
  for (int32_t kHz : {8, 11, 16, 22, 32, 44, 48}) {
    for (int32_t kbps = 4; kbps <= 64; kbps += 2) {
      for (int32_t channels = 1; channels <= 3; ++channels) {
        bool listed = false;
        for (const Mode& m : kModes) listed |= m.kHz == kHz && m.kbps == kbps && channels <= 2;
        Stream s(kHz, kbps, channels);
        ASSERT_EQ(s.result == 0, listed) << kHz << "/" << kbps << " x" << channels;
        if (!listed) continue;
        // The layout calls answer for this stream, and agree with the codec's own layout.
        twinvq::StreamSetup setup;
        ASSERT_TRUE(setup.Init(kHz, kbps, channels));
        EncoderConfig reported, codec;
        ASSERT_EQ(TvqEncGetConfInfo(&reported), 0);
        setup.FillEncoderConfig(&codec);
        EXPECT_EQ(std::memcmp(&reported, &codec, sizeof codec), 0) << kHz << "/" << kbps;
        EXPECT_EQ(TvqEncGetFrameSize(), setup.frameSize());
        int32_t* widths0[4];
        int32_t* widths1[4];
        ASSERT_EQ(TvqEncGetVectorInfo(widths0, widths1), 0);
        int32_t codec0[400], codec1[400];
        setup.FillCodebookWidths(2, codec0, codec1);
        EXPECT_EQ(std::memcmp(widths0[2], codec0, sizeof(int32_t) * codec.blockTypes[2].shapeCount), 0);
      }
    }
  }
}

// Random-looking but repeatable samples of one frame.
std::vector<float> Frame(int32_t n, int32_t channels, int32_t f) {
  std::vector<float> x(n * channels);
  for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<float>(12000.0 * std::sin(0.37 * i + f) * std::sin(0.011 * i));
  return x;
}

std::vector<int32_t> Snapshot(const twinvq::StreamSetup& setup, const FrameIndex& index) {
  twinvq::FrameValues v;
  twinvq::LoadFromFrameIndex(setup, index, &v);
  const int32_t* begin = reinterpret_cast<const int32_t*>(&v);
  return std::vector<int32_t>(begin, begin + sizeof v / sizeof(int32_t));
}

TEST(Library, InstancesKeepTheirOwnState) {
  twinvq::StreamSetup setup;
  ASSERT_TRUE(setup.Init(11, 10, 2));
  std::vector<std::vector<int32_t>> alone;
  {
    Stream s(11, 10, 2);
    for (int32_t f = 0; f < 6; ++f) {
      ASSERT_EQ(TvqEncodeFrame(Frame(512, 2, f).data(), &s.index), 0);
      alone.push_back(Snapshot(setup, s.index));
    }
  }
  // The same stream beside another one (of another mode, initialised later), frame by frame.
  Stream a(11, 10, 2);
  Stream b(44, 48, 1);
  std::vector<float> other(2048, 1000.0f);
  for (int32_t f = 0; f < 6; ++f) {
    ASSERT_EQ(TvqEncodeFrame(Frame(512, 2, f).data(), &a.index), 0);
    EXPECT_EQ(Snapshot(setup, a.index), alone[f]) << f;
    ASSERT_EQ(TvqEncodeFrame(other.data(), &b.index), 0);
  }
}

// The long-block update restates the layout of the stream whose arrays it is handed, not of
// the stream initialised last: two exports of different modes may be open at once.
TEST(Library, LongBlockUpdateRestatesTheLayoutOfItsOwnStream) {
  Stream a(8, 8, 1);
  int32_t* widths0[4];
  int32_t* widths1[4];
  ASSERT_EQ(TvqEncGetVectorInfo(widths0, widths1), 0);
  twinvq::StreamSetup setup;
  ASSERT_TRUE(setup.Init(8, 8, 1));
  EncoderConfig own;
  setup.FillEncoderConfig(&own);
  int32_t expected0[400], expected1[400];
  setup.FillCodebookWidths(2, expected0, expected1);
  const int32_t pairs = own.blockTypes[2].shapeCount;

  Stream b(44, 48, 2);  // initialised later, with far more pairs
  int32_t shapeCount = -1;
  ASSERT_EQ(TvqEncUpdateVectorInfo(0, &shapeCount, widths0[2], widths1[2]), 0);
  EXPECT_EQ(shapeCount, pairs);
  EXPECT_EQ(std::memcmp(widths0[2], expected0, sizeof(int32_t) * pairs), 0);
  EXPECT_EQ(std::memcmp(widths1[2], expected1, sizeof(int32_t) * pairs), 0);
}

#ifdef TVQENC_HEAP_BYTES
TEST(Library, ThousandCyclesLeaveTheHeapWhereItWas) {
  { Stream warm(44, 48, 2); }  // first-use tables
  const size_t before = TVQENC_HEAP_BYTES();
  for (int32_t i = 0; i < 1000; ++i) {
    Stream s(kModes[i % 9].kHz, kModes[i % 9].kbps, 1 + i % 2);
    ASSERT_EQ(s.result, 0);
  }
  EXPECT_EQ(TVQENC_HEAP_BYTES(), before);
}
#endif

// Whatever the plug-in can pass (and worse): every index fits its field and the decoder
// model rebuilds finite samples.
TEST(Library, AnySamplesGiveInRangeIndicesAndFiniteOutput) {
  constexpr float inf = std::numeric_limits<float>::infinity();
  struct Signal { const char* name; float (*at)(int64_t); };  // inf is a constant: no capture
  const Signal signals[] = {
      {"silence", [](int64_t) { return 0.0f; }},
      {"DC", [](int64_t) { return 32767.0f; }},
      {"full-scale square", [](int64_t t) { return (t / 37) % 2 ? 32767.0f : -32768.0f; }},
      {"single click", [](int64_t t) { return t == 3000 ? 32767.0f : 0.0f; }},
      {"not numbers", [](int64_t t) { return t % 3 ? std::nanf("") : (t % 2 ? inf : -inf); }},
      {"huge", [](int64_t t) { return t % 2 ? 3.0e38f : -3.0e38f; }},
  };
  for (const Mode& m : {kModes[0], kModes[6], kModes[8]}) {
    for (int32_t channels = 1; channels <= 2; ++channels) {
      twinvq::StreamSetup setup;
      ASSERT_TRUE(setup.Init(m.kHz, m.kbps, channels));
      const int32_t n = setup.frameSize();
      for (const Signal& sig : signals) {
        Stream s(m.kHz, m.kbps, channels);
        twinvq::DecoderModel model(setup);
        std::vector<float> x(n * channels), out(n * channels);
        for (int32_t f = 0; f < 6; ++f) {
          for (int32_t c = 0; c < channels; ++c) {
            for (int32_t i = 0; i < n; ++i) x[c * n + i] = sig.at(int64_t(f) * n + i);
          }
          ASSERT_EQ(TvqEncodeFrame(x.data(), &s.index), 0);
          twinvq::FrameValues v;
          twinvq::LoadFromFrameIndex(setup, s.index, &v);
          ASSERT_TRUE(twinvq::ValuesFitFields(setup, v)) << sig.name << " " << m.kHz << "/" << m.kbps;
          model.DecodeFrame(v, out.data());
          for (float y : out) ASSERT_TRUE(std::isfinite(y)) << sig.name;
        }
      }
    }
  }
}

}  // namespace
