#include "encoder_instance.h"

#include <new>

#include "library_layouts.h"

namespace tvqenc {

std::unique_ptr<EncoderInstance> EncoderInstance::Create(const HeaderInfo& header) {
  // The 18 modes of the format, and no others.
  const twinvq::RateMode* mode = FindStreamMode(header.channelMode, header.bitRate, header.samplingRate);
  if (!mode) return nullptr;
  std::unique_ptr<EncoderInstance> instance(new (std::nothrow) EncoderInstance());
  if (!instance) return nullptr;
  if (!instance->setup_.Init(mode->kHzCode, mode->kbpsPerChannel, header.channelMode + 1)) {
    return nullptr;
  }
  instance->encoder_.reset(new (std::nothrow) FrameEncoder(instance->setup_));
  if (!instance->encoder_) return nullptr;
  return instance;
}

void EncoderInstance::Attach(FrameIndex* index) {
  twinvq::BindFrameIndex(&arrays_, index);
  index->pb[0] = &unusedPb_[0];
  index->pb[1] = &unusedPb_[1];
}

void EncoderInstance::EncodeFrame(const float* samples, FrameIndex* index) {
  Attach(index);
  encoder_->Encode(samples, &values_);
  twinvq::StoreInFrameIndex(setup_, values_, index);
}

}  // namespace tvqenc
