// The 34 encodings the WMA plug-in offers, in the order the host's options word numbers
// them (row 1 first), with the text the options dialog shows for each. Written out by hand
// rather than taken from WmaFormatTable, so that a changed, swapped or missing row shows.
#pragma once

#include <cstdint>

struct ExpectedFormatRow {
  uint32_t kbps;
  uint32_t sampleRate;
  uint32_t channels;
  const char* text;
};

inline constexpr ExpectedFormatRow kExpectedFormatRows[34] = {
    {5, 8000, 1, "5 kbps, 8 kHz, mono"},
    {6, 8000, 1, "6 kbps, 8 kHz, mono"},
    {8, 8000, 1, "8 kbps, 8 kHz, mono"},
    {8, 11025, 1, "8 kbps, 11 kHz, mono"},
    {10, 11025, 1, "10 kbps, 11 kHz, mono"},
    {10, 16000, 1, "10 kbps, 16 kHz, mono"},
    {12, 8000, 2, "12 kbps, 8 kHz, stereo"},
    {12, 16000, 1, "12 kbps, 16 kHz, mono"},
    {16, 16000, 1, "16 kbps, 16 kHz, mono"},
    {16, 16000, 2, "16 kbps, 16 kHz, stereo"},
    {16, 22050, 1, "16 kbps, 22 kHz, mono"},
    {20, 16000, 2, "20 kbps, 16 kHz, stereo"},
    {20, 22050, 1, "20 kbps, 22 kHz, mono"},
    {20, 22050, 2, "20 kbps, 22 kHz, stereo"},
    {20, 32000, 1, "20 kbps, 32 kHz, mono"},
    {22, 22050, 2, "22 kbps, 22 kHz, stereo"},
    {22, 32000, 2, "22 kbps, 32 kHz, stereo"},
    {32, 22050, 2, "32 kbps, 22 kHz, stereo"},
    {32, 32000, 1, "32 kbps, 32 kHz, mono"},
    {32, 32000, 2, "32 kbps, 32 kHz, stereo"},
    {32, 44100, 1, "32 kbps, 44 kHz, mono"},
    {36, 32000, 2, "36 kbps, 32 kHz, stereo"},
    {40, 32000, 2, "40 kbps, 32 kHz, stereo"},
    {44, 32000, 2, "44 kbps, 32 kHz, stereo"},
    {48, 32000, 2, "48 kbps, 32 kHz, stereo"},
    {48, 44100, 2, "48 kbps, 44 kHz, stereo"},
    {64, 32000, 2, "64 kbps, 32 kHz, stereo"},
    {64, 44100, 2, "64 kbps, 44 kHz, stereo"},
    {80, 44100, 2, "80 kbps, 44 kHz, stereo"},
    {96, 44100, 2, "96 kbps, 44 kHz, stereo"},
    {128, 44100, 2, "128 kbps, 44 kHz, stereo"},
    {128, 48000, 2, "128 kbps, 48 kHz, stereo"},
    {160, 44100, 2, "160 kbps, 44 kHz, stereo"},
    {160, 48000, 2, "160 kbps, 48 kHz, stereo"},
};
