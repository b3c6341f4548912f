// What a WMA (version 2) stream is, from its rate, channels and bit rate: the frame
// length, the exponent bands, the noise-coding split, the coefficient tables, the packet
// size and the extradata the decoder reads. Every value here is one the decoder derives
// itself from the same three numbers and the extradata's flags, so the two agree.
#pragma once

#include <cstdint>

namespace wmaenc {

constexpr int32_t kMaxBands = 25;
constexpr int32_t kMaxHighBands = 16;
constexpr int32_t kMaxChannels = 2;
constexpr int32_t kMaxFrameLength = 2048;
constexpr int32_t kExtradataSize = 10;

// Flags of the extradata's option word.
constexpr uint16_t kFlagExponentVlc = 0x0001;
constexpr uint16_t kFlagBitReservoir = 0x0002;
constexpr uint16_t kFlagVariableBlocks = 0x0004;
constexpr uint16_t kFlagMoreBlockSizes = 0x0018;  // two bits: up to three more sizes

constexpr int32_t kMaxBlockSizes = 5;

// The layout of one block size: exponent bands over the whole block, the coded part and
// the bands above highBandStart that noise may stand in for.
struct BlockLayout {
  int32_t length = 0;
  int32_t bandCount = 0;
  int32_t bandWidths[kMaxBands] = {};
  int32_t codedEnd = 0;             // coefficients from here up are not coded
  int32_t highBandStart = 0;
  int32_t highBandCount = 0;
  int32_t highBandWidths[kMaxHighBands] = {};
  int32_t highBandFirst[kMaxHighBands] = {};  // where each starts
  int32_t highBandOwner[kMaxHighBands] = {};  // the exponent band it lies in
};

struct StreamSetup {
  int32_t sampleRate = 0;
  int32_t channels = 0;
  int32_t bitRate = 0;
  int32_t frameLengthBits = 0;      // frame length 512, 1024 or 2048 by rate
  int32_t frameLength = 0;
  uint16_t flags = 0;
  // Per block size k (length frameLength >> k): the sizes the stream allows, the bits of a
  // size index, and the short size the encoder switches to on a transient.
  int32_t blockSizes = 1;
  int32_t blockSizeBits = 0;
  int32_t shortSize = 0;
  BlockLayout layout[kMaxBlockSizes];
  bool noiseCoding = false;         // the decoder adds its noise to coded values
  int32_t coefTable = 0;            // 0..2: the pair of run-level tables
  int32_t byteOffsetBits = 0;       // the superframe's bit offset field is this + 3 bits
  int32_t packetBytes = 0;          // the stream's block align: one superframe packet
  uint8_t extradata[kExtradataSize] = {};
};

// False when the decoder would not take the stream (rate 1..50000 Hz, 1 or 2 channels,
// a positive bit rate whose packets fit the format's fields).
bool MakeStreamSetup(int32_t sampleRate, int32_t channels, int32_t bitRate, StreamSetup* setup);

// Bits of a packet's superframe header: index, frame count and bit offset.
inline int32_t PacketHeaderBits(const StreamSetup& s) { return 4 + 4 + s.byteOffsetBits + 3; }

}  // namespace wmaenc
