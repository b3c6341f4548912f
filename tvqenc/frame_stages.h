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

// Log of a bark envelope step as the decoder takes it (below -1 it reads 1), floored.
inline double BarkStepLog(double step) {
  if (step < -1.0) step = 1.0;
  return SafeLog(std::max(std::fabs(step), 1.0e-3));
}

// The LSP fit's grid point weights for one block kind (frame_lsp.cpp).
std::vector<double> LspGridWeights(const twinvq::BlockTables& bands, int32_t blockSize);

}  // namespace tvqenc
