// Packs frames into packets of the stream's fixed size. Each packet starts with a header:
// a 4-bit index, 4 bits of (1 + the frames that begin and end in it), and the number of
// bits at its start that finish the frame begun in the packet before. Frames follow one
// another without gaps, crossing into the next packet where they do not fit, so that bits
// a frame leaves unused go to the frames after it.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "bit_writer.h"
#include "stream_setup.h"

namespace wmaenc {

class SuperframePacker {
 public:
  void Init(const StreamSetup& setup);

  // The most bits the next frame may take: it may not leave a packet without a frame ending
  // in it, and its part in the next packet must fit the header's bit offset field.
  int64_t NextFrameCap() const;
  // True when the next frame is the first to begin in its packet: the decoder expects
  // such a frame to restate its block sizes.
  bool NextFrameIsFirstInPacket() const { return completed_ == 0 && payload_.Count() == carried_; }
  void AddFrame(const BitWriter& frame);
  // Pads the packet under way with zeros and closes it (nothing when it is empty).
  void Finish();

  bool HasPacket() const { return !ready_.empty(); }
  std::vector<uint8_t> TakePacket();
  int64_t PacketsMade() const { return packetsMade_; }

 private:
  void Close();

  int32_t packetBits_ = 0, payloadBits_ = 0, offsetBits_ = 0;
  BitWriter payload_;          // the packet under way, after its header
  int32_t carried_ = 0;        // bits at its start that end the frame before
  int32_t completed_ = 0;      // frames that begin and end in it
  int32_t index_ = 0;
  int64_t packetsMade_ = 0;
  std::deque<std::vector<uint8_t>> ready_;
};

}  // namespace wmaenc
