// Block switching: which block size a frame uses, the window type code that announces it,
// and the overlap widths the decoder applies at each edge of each sub-block.
//
// Frame kinds: short (S sub-blocks), medium (M) or long (1). A frame's type code also says
// how wide its first overlap is; that overlap cannot be wider than either neighbour allows:
//   short frame 2 (short/2 start);  medium frame 4 (short/2 start) or 8 (medium start);
//   long frame 3 (short/2 start), 5 (medium start) or 0 (long start).
// So after a short frame only 2, 3, 4 follow, after a medium frame 2, 3, 4, 5, 7, 8.
#pragma once

#include <cstdint>

namespace tvqenc {

enum FrameKind : int32_t { kShort = 0, kMedium = 1, kLong = 2 };

// The block sizes of one mode: frame size N over the sub-block counts.
struct BlockSizes {
  int32_t frame;      // N
  int32_t subBlocks[3];
  int32_t Block(FrameKind kind) const { return frame / subBlocks[kind]; }
  // Overlap width a frame of this kind allows at its edges: short/2, medium, N.
  int32_t EdgeOverlap(FrameKind kind) const {
    return kind == kShort ? Block(kShort) / 2 : Block(kind);
  }
  // Overlap between the sub-blocks inside a frame of this kind.
  int32_t InnerOverlap(FrameKind kind) const { return EdgeOverlap(kind); }
};

// The type code of a frame of kind current after a frame of kind previous.
int32_t WindowTypeCode(FrameKind previous, FrameKind current);
// The frame kind and start overlap kind a type code 0..8 stands for (false if invalid).
bool DecodeWindowType(int32_t code, FrameKind* kind, FrameKind* startOverlap);
// Whether a decoder accepts type code after a frame of kind previous.
bool TransitionAllowed(FrameKind previous, int32_t code);

// The start overlap of a frame of kind current after kind previous: the narrower edge.
int32_t StartOverlap(const BlockSizes& sizes, FrameKind previous, FrameKind current);

// Chooses a frame's kind from the 2N samples its long block spans, per channel. Energies
// of segments of half a short block are compared with the mean of the four before them.
// A sharp rise in the frame's middle N samples (where its own blocks lie) asks for short
// blocks; a sharp rise only in the outer quarters (the overlaps with the neighbours, whose
// own frames go short) or a moderate rise anywhere asks for medium blocks, so that a long
// window does not smear the attack ahead of it. Silence and steady sound stay long.
// highPass: the segments' energies of the second difference, so that a loud bass or pad
// does not hide a snare's or a hat's rise (spans then need two samples before them).
FrameKind ChooseFrameKind(const BlockSizes& sizes, const float* const* spans, int32_t channels,
                          bool highPass);

// The squared error an ideal adaptive coder leaves on `count` coefficients when it spends
// `bits` on them (reverse water-filling over the coefficients' powers: those below the
// water level are dropped, the others cost half a bit per halving of their error).
// Compares block kinds: their transforms are orthonormal, so coefficient error is sample
// error. scratch: 2 count values.
double WaterFillingError(const float* coefficients, int32_t count, double bits, float* scratch);

}  // namespace tvqenc
