// What the frame encoder's stages (frame_*.cpp, each a part of FrameEncoder) share.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "log_exp.h"
#include "tables.h"

namespace tvqenc {

// The logarithm of a magnitude, never of zero.
inline double SafeLog(double v) { return NaturalLog(std::max(std::fabs(v), 1.0e-30)); }

// A bark envelope step's magnitude as the decoder takes it (below -1 it reads 1), floored,
// and its log.
inline double BarkStepMagnitude(double step) {
  if (step < -1.0) step = 1.0;
  return std::max(std::fabs(step), 1.0e-3);
}
inline double BarkStepLog(double step) { return NaturalLog(BarkStepMagnitude(step)); }

// The LSP fit's grid point weights for one block kind (frame_lsp.cpp).
std::vector<double> LspGridWeights(const twinvq::BlockTables& bands, int32_t blockSize);

}  // namespace tvqenc
