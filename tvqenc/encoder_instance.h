// One stream's encoder as the library hands it out: the codec setup, the frame encoder and
// the arrays the FrameIndex pointers lead to, all owned by the instance. Portable.
#pragma once

#include <memory>

#include "frame_encoder.h"
#include "frame_values.h"
#include "stream_setup.h"
#include "tvqenc_api.h"

namespace tvqenc {

class EncoderInstance {
 public:
  // Null for a combination that is not one of the 18 modes.
  static std::unique_ptr<EncoderInstance> Create(const HeaderInfo& header);

  // Points index's arrays at this instance's and encodes one frame into them.
  void Attach(FrameIndex* index);
  void EncodeFrame(const float* samples, FrameIndex* index);

 private:
  EncoderInstance() = default;
  twinvq::StreamSetup setup_;
  std::unique_ptr<FrameEncoder> encoder_;
  twinvq::FrameIndexArrays arrays_{};
  int32_t unusedPb_[2] = {0, 0};  // no mode has a pb part; valid pointers all the same
  twinvq::FrameValues values_;
};

}  // namespace tvqenc
