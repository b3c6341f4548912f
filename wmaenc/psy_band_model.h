// The shared masking model (psy::MaskModel, the TwinVQ encoder's too) as the WMA encoder's
// band thresholds: one model per block size of the stream, over its exponent bands.
#pragma once

#include <memory>
#include <vector>

#include "band_thresholds.h"

namespace psy { class MaskModel; }

namespace wmaenc {

class PsyBandModel : public BandThresholdModel {
 public:
  PsyBandModel();
  ~PsyBandModel() override;
  // Allocates; throws std::bad_alloc.
  void Init(const StreamSetup& setup);
  void Thresholds(const BlockLayout& layout, const double* power, double* thresholds) const override;

 private:
  std::unique_ptr<psy::MaskModel> models_[kMaxBlockSizes];
  int32_t lengths_[kMaxBlockSizes] = {};
  mutable std::vector<float> bins_;
  int32_t rate_ = 0;
};

}  // namespace wmaenc
