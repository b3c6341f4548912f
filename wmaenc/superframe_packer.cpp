#include "superframe_packer.h"

#include <algorithm>

namespace wmaenc {

void SuperframePacker::Init(const StreamSetup& setup) {
  packetBits_ = setup.packetBytes * 8;
  offsetBits_ = setup.byteOffsetBits + 3;
  payloadBits_ = packetBits_ - PacketHeaderBits(setup);
  payload_.Clear();
  payload_.Reserve(static_cast<size_t>(setup.packetBytes));
  carried_ = completed_ = index_ = 0;
  packetsMade_ = 0;
  ready_.clear();
}

int64_t SuperframePacker::NextFrameCap() const {
  const int64_t left = payloadBits_ - payload_.Count();
  // A frame that starts a packet with nothing before it must end in it: the decoder takes
  // a packet in which no frame ends only as the middle of a frame begun earlier.
  if (payload_.Count() == 0) return left;
  const int64_t offsetLimit = (int64_t{1} << offsetBits_) - 1;
  return left + std::min<int64_t>(offsetLimit, payloadBits_);
}

void SuperframePacker::AddFrame(const BitWriter& frame) {
  const int64_t left = payloadBits_ - payload_.Count();
  if (frame.Count() <= left) {
    payload_.Append(frame, 0, frame.Count());
    ++completed_;
    if (payload_.Count() == payloadBits_) Close();
    return;
  }
  payload_.Append(frame, 0, left);
  Close();
  const int64_t tail = frame.Count() - left;
  payload_.Append(frame, left, tail);
  carried_ = static_cast<int32_t>(tail);
  if (payload_.Count() == payloadBits_) Close();
}

void SuperframePacker::Close() {
  BitWriter packet;
  packet.Reserve(static_cast<size_t>(packetBits_ / 8));
  packet.Put(static_cast<uint32_t>(index_ & 15), 4);
  packet.Put(static_cast<uint32_t>(completed_ + 1), 4);
  packet.Put(static_cast<uint32_t>(carried_), offsetBits_);
  packet.Append(payload_, 0, payload_.Count());
  while (packet.Count() < packetBits_) packet.PutBit(0);
  ready_.push_back(packet.Bytes());
  ++packetsMade_;
  ++index_;
  payload_.Clear();
  carried_ = completed_ = 0;
}

void SuperframePacker::Finish() {
  if (payload_.Count() > 0) Close();
}

std::vector<uint8_t> SuperframePacker::TakePacket() {
  std::vector<uint8_t> p = std::move(ready_.front());
  ready_.pop_front();
  return p;
}

}  // namespace wmaenc
