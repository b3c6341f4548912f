// The writer stores the exact count of samples it was given in the file's extended
// content description, so the reader can end the stream where the input ended (the
// encoder only emits whole frames). Fixed width, so the header keeps its size when the
// count is filled in at the end.
#pragma once

namespace wmaunix {
constexpr const char* kSampleCountTag = "VellSampleCount";
constexpr int kSampleCountDigits = 16;
}  // namespace wmaunix
