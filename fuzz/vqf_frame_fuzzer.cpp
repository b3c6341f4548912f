// WriteFrameRecord with random layouts (widths, counts, channels, block types, the block
// type 2 update) and random indices, after a random number of bits so records start at any
// bit and cross the 8192-bit flush. Every array is exactly as long as the layout says, so a
// read beyond it is caught. The file is read back with a bit reader of our own and must hold
// exactly the fields in record order, each the value's low bits, then only zero padding.
#include <fuzzer/FuzzedDataProvider.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bit_file.h"
#include "encoder_library.h"
#include "frame_writer.h"

namespace {

std::string outPath;

void Check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "VQF frame record: %s\n", what);
    abort();
  }
}

struct Field {
  int32_t value;
  int32_t width;
};

// What the library's per-frame update does in this run: the new long-block shape count
// and the widths it writes into the (long enough) arrays.
int32_t updateShapeCount = 0;
std::vector<int32_t> updateWidths0, updateWidths1;
int updateCalls = 0;

int32_t TVQ_API FakeUpdateVectorInfo(int32_t, int32_t* shapeCount, int32_t* widths0, int32_t* widths1) {
  ++updateCalls;
  *shapeCount = updateShapeCount;
  for (size_t i = 0; i < updateWidths0.size(); ++i) widths0[i] = updateWidths0[i];
  for (size_t i = 0; i < updateWidths1.size(); ++i) widths1[i] = updateWidths1[i];
  return 0;
}

int32_t Count(FuzzedDataProvider& p, int32_t most) { return p.ConsumeIntegralInRange<int32_t>(-1, most); }
int32_t Width(FuzzedDataProvider& p) { return p.ConsumeIntegralInRange<int32_t>(0, 32); }
size_t Size(int64_t n) { return n > 0 ? static_cast<size_t>(n) : 0; }

int32_t Value(FuzzedDataProvider& p) {
  switch (p.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: return p.ConsumeIntegralInRange<int32_t>(0, 15);
    case 1: return p.ConsumeIntegralInRange<int32_t>(0, 1000);
    default: return p.ConsumeIntegral<int32_t>();
  }
}

std::vector<int32_t> Values(FuzzedDataProvider& p, size_t n) {
  std::vector<int32_t> v(n);
  for (int32_t& x : v) x = Value(p);
  return v;
}

std::vector<int32_t> Widths(FuzzedDataProvider& p, size_t n) {
  std::vector<int32_t> v(n);
  for (int32_t& x : v) x = Width(p);
  return v;
}

// Reads MSB-first bits from bytes.
struct BitReader {
  const std::string& bytes;
  size_t bit = 0;
  uint32_t Read(int32_t width) {
    uint32_t v = 0;
    for (int32_t i = 0; i < width; ++i, ++bit) {
      Check(bit / 8 < bytes.size(), "file shorter than its fields");
      v = (v << 1) | ((static_cast<uint8_t>(bytes[bit / 8]) >> (7 - bit % 8)) & 1u);
    }
    return v;
  }
};

uint32_t LowBits(int32_t value, int32_t width) {
  return width >= 32 ? static_cast<uint32_t>(value) : static_cast<uint32_t>(value) & ((1u << width) - 1);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The overflow diagnostics go to standard output; keep them out of the fuzzer's log.
  if (!freopen("/dev/null", "w", stdout)) return 0;
  outPath = (access("/dev/shm", W_OK) == 0 ? std::string("/dev/shm") : std::string("/tmp")) +
            "/vell-fuzz-frame-" + std::to_string(getpid()) + ".bits";
  std::atexit([] { unlink(outPath.c_str()); });
  encoderEntryPoints.TvqEncUpdateVectorInfo = FakeUpdateVectorInfo;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider p(data, size);
  FrameLayout layout{};  // the stream's own layout, as a context keeps it
  EncoderConfig& c = layout.config;
  const int channelChoice = p.ConsumeIntegralInRange<int>(0, 9);
  c.channels = channelChoice < 4 ? 1 : channelChoice < 8 ? 2 : (channelChoice == 8 ? 0 : 3);
  c.typeCodeBits = Width(p);
  c.lsp0Bits = Width(p);
  c.lsp1Bits = Width(p);
  c.lsp2Bits = Width(p);
  c.lsp2Count = Count(p, 20);
  c.forwardArBits = Width(p);
  c.powerBits = Width(p);
  c.subPowerBits = Width(p);
  c.pitchCodebookCount = Count(p, 8);
  c.pitchBits = Width(p);
  c.pitchGainBits = Width(p);
  for (BlockTypeConfig& t : c.blockTypes) {
    t.subBlocks = Count(p, 8);
    t.shapeCount = Count(p, 40);
    t.forwardCount = Count(p, 8);
    t.forwardBits = Width(p);
    t.subPowerCount = Count(p, 8);
    t.hasPitch = p.ConsumeBool();
    t.hasPb = p.ConsumeBool();
    t.pbStart = p.ConsumeIntegralInRange<int32_t>(-2, 10);
    t.pbEnd = p.ConsumeIntegralInRange<int32_t>(-2, 12);
    t.pbBits = Width(p);
  }
  // Widths of the shape pairs (entries 0-2) and the pitch codebook pairs (entry 3).
  std::vector<int32_t> widths[2][4];
  for (int t = 0; t < 3; ++t)
    for (auto& w : widths) w[t] = Widths(p, Size(c.blockTypes[t].shapeCount));
  for (auto& w : widths) w[3] = Widths(p, Size(c.pitchCodebookCount));
  // The block type 2 update may change the shape count; the arrays must hold both.
  updateShapeCount = Count(p, 40);
  updateWidths0 = Widths(p, Size(updateShapeCount));
  updateWidths1 = Widths(p, Size(updateShapeCount));
  for (auto& w : widths) w[2].resize(std::max(w[2].size(), Size(updateShapeCount)));
  for (int e = 0; e < 4; ++e) {
    layout.widths.widths0[e] = widths[0][e].data();
    layout.widths.widths1[e] = widths[1][e].data();
  }

  BitFile* file = OpenBitFile(outPath.c_str(), "wb");
  Check(file != nullptr, "bit file not opened (a slot leaked?)");
  std::vector<Field> expected;
  // A run of leading bits puts the records at any bit position, near the flush at 8192.
  const int32_t lead = p.ConsumeIntegralInRange<int32_t>(0, 8300);
  for (int32_t done = 0; done < lead;) {
    const int32_t w = std::min<int32_t>(32, lead - done);
    const int32_t v = static_cast<int32_t>(0x9E3779B9u * static_cast<uint32_t>(done + 1));
    PutBits(v, w, file);
    expected.push_back({v, w});
    done += w;
  }

  const int frames = p.ConsumeIntegralInRange<int>(1, 4);
  for (int f = 0; f < frames; ++f) {
    int32_t type = p.ConsumeIntegralInRange<int32_t>(0, 9);
    type = type < 3 ? type : (type < 9 ? type % 3 : (p.ConsumeBool() ? -1 : 3));
    const int32_t nch = c.channels;
    const bool writes = type >= 0 && type <= 2 && (nch == 1 || nch == 2);
    const BlockTypeConfig before = writes ? c.blockTypes[type] : BlockTypeConfig{};
    const int32_t shapeCount = type == 2 ? updateShapeCount : before.shapeCount;
    const BlockTypeConfig& t = before;
    const int32_t channels = writes ? nch : 0;

    FrameIndex index = {};
    index.typeCode = Value(p);
    index.blockType = type;
    std::vector<int32_t> shape = Values(p, 2 * Size(shapeCount));
    std::vector<int32_t> forward = Values(p, Size(int64_t{channels} * Size(t.subBlocks) * Size(t.forwardCount)));
    std::vector<int32_t> forwardAr = Values(p, Size(int64_t{channels} * Size(t.subBlocks)));
    std::vector<int32_t> power = Values(p, Size(int64_t{channels} * (Size(t.subPowerCount) + 1)));
    std::vector<int32_t> lsp[2];
    for (int ch = 0; ch < channels; ++ch) lsp[ch] = Values(p, 2 + Size(c.lsp2Count));
    std::vector<int32_t> pitchCodebook = t.hasPitch ? Values(p, 2 * Size(c.pitchCodebookCount)) : std::vector<int32_t>();
    std::vector<int32_t> pb[2];
    for (int ch = 0; ch < channels && t.hasPb; ++ch)
      pb[ch] = Values(p, Size(t.subBlocks) * Size(int64_t{t.pbEnd} - t.pbStart));
    index.shape = shape.data();
    index.forward = forward.data();
    index.forwardAr = forwardAr.data();
    index.power = power.data();
    for (int ch = 0; ch < 2; ++ch) {
      index.lsp[ch] = lsp[ch].empty() ? nullptr : lsp[ch].data();
      index.pb[ch] = pb[ch].empty() ? nullptr : pb[ch].data();
      index.pitch[ch] = Value(p);
      index.pitchGain[ch] = Value(p);
    }
    index.pitchCodebook = pitchCodebook.empty() ? nullptr : pitchCodebook.data();

    updateCalls = 0;
    WriteFrameRecord(&index, &layout, file);
    Check(updateCalls == (writes && type == 2 ? 1 : 0), "the per-frame update runs for block type 2 only");
    if (!writes) continue;

    // The record, in the order of its parts.
    // Block type 2 uses the widths the update has just written over its arrays.
    const std::vector<int32_t>& sw0 = type == 2 ? updateWidths0 : widths[0][type];
    const std::vector<int32_t>& sw1 = type == 2 ? updateWidths1 : widths[1][type];
    expected.push_back({index.typeCode, c.typeCodeBits});
    for (int32_t i = 0; i < shapeCount; ++i) {
      expected.push_back({shape[i], sw0[i]});
      expected.push_back({shape[shapeCount + i], sw1[i]});
    }
    for (int32_t ch = 0; ch < nch; ++ch)
      for (int32_t s = 0; s < t.subBlocks; ++s)
        for (int32_t k = 0; k < t.forwardCount; ++k)
          expected.push_back({forward[(t.subBlocks * ch + s) * t.forwardCount + k], t.forwardBits});
    for (int32_t ch = 0; ch < nch; ++ch)
      for (int32_t s = 0; s < t.subBlocks; ++s) expected.push_back({forwardAr[t.subBlocks * ch + s], c.forwardArBits});
    for (int32_t ch = 0; ch < nch; ++ch) {
      const size_t b = Size(t.subPowerCount + 1) * ch;
      expected.push_back({power[b], c.powerBits});
      for (int32_t j = 0; j < t.subPowerCount; ++j) expected.push_back({power[b + 1 + j], c.subPowerBits});
    }
    for (int32_t ch = 0; ch < nch; ++ch) {
      expected.push_back({lsp[ch][0], c.lsp0Bits});
      expected.push_back({lsp[ch][1], c.lsp1Bits});
      for (int32_t j = 0; j < c.lsp2Count; ++j) expected.push_back({lsp[ch][2 + j], c.lsp2Bits});
    }
    if (t.hasPitch) {
      const int32_t m = c.pitchCodebookCount;
      for (int32_t i = 0; i < m; ++i) {
        expected.push_back({pitchCodebook[i], widths[0][3][i]});
        expected.push_back({pitchCodebook[m + i], widths[1][3][i]});
      }
      for (int32_t ch = 0; ch < nch; ++ch) {
        expected.push_back({index.pitch[ch], c.pitchBits});
        expected.push_back({index.pitchGain[ch], c.pitchGainBits});
      }
    }
    if (t.hasPb) {
      for (int32_t ch = 0; ch < nch; ++ch)
        for (int32_t s = 0; s < t.subBlocks; ++s)
          for (int32_t k = t.pbStart; k < t.pbEnd; ++k)
            expected.push_back({pb[ch][(t.pbEnd - t.pbStart) * s + (k - t.pbStart)], t.pbBits});
    }
  }
  Check(CloseBitFile(file), "bit file reported a failed write");

  std::ifstream in(outPath, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  BitReader reader{bytes};
  for (const Field& f : expected) Check(reader.Read(f.width) == LowBits(f.value, f.width), "field bits differ");
  Check(bytes.size() == (reader.bit + 7) / 8, "file length is not the fields' bits rounded up to a byte");
  while (reader.bit % 8) Check(reader.Read(1) == 0, "padding bits are not zero");
  return 0;
}
