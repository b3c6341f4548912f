// Native speed of the TwinVQ encoder in every mode: seconds of audio encoded per second of
// one core, on a mixture of tones and noise. Prints one line per mode. The time is the
// process's processor time, so that other work on the machine changes the figures little.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <vector>

#include "frame_encoder.h"

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
  const int modes[9][2] = {{8, 8}, {11, 8}, {11, 10}, {16, 16}, {22, 20}, {22, 24}, {22, 32}, {44, 40}, {44, 48}};
  std::printf("mode          audio s   cpu s   x real time\n");
  for (const auto& m : modes) {
    for (int channels = 1; channels <= 2; ++channels) {
      twinvq::StreamSetup setup;
      if (!setup.Init(m[0], m[1], channels)) return 1;
      const int n = setup.frameSize();
      const double hz = setup.mode().realHz;
      const int frames = static_cast<int>(seconds * hz / n);
      std::mt19937 random(1);
      std::normal_distribution<float> noise(0.0f, 1500.0f);
      std::vector<float> x(n * channels);
      tvqenc::FrameEncoder encoder(setup);
      twinvq::FrameValues values;
      double busy = 0.0;
      for (int f = 0; f < frames; ++f) {
        for (int c = 0; c < channels; ++c) {
          for (int i = 0; i < n; ++i) {
            const double t = (double(f) * n + i) / hz;
            x[c * n + i] = static_cast<float>(8000.0 * std::sin(2 * M_PI * 440.0 * t) +
                                              4000.0 * std::sin(2 * M_PI * 1320.0 * t + c) + noise(random));
          }
        }
        const std::clock_t start = std::clock();
        encoder.Encode(x.data(), &values);
        busy += double(std::clock() - start) / CLOCKS_PER_SEC;
      }
      const double audio = frames * n / hz;
      std::printf("%2d/%-2d %-6s %8.1f %7.2f %10.1f\n", m[0], m[1], channels == 1 ? "mono" : "stereo",
                  audio, busy, audio / busy);
    }
  }
  return 0;
}
