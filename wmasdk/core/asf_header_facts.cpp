#include "asf_header_facts.h"

#include <cstring>

namespace wmacore {
namespace {

using Guid = uint8_t[16];

// GUIDs as they are stored: the first three fields little-endian.
constexpr Guid kHeaderObject = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr Guid kDataObject = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                              0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr Guid kFileProperties = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                  0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr Guid kContentEncryption = {0xFB, 0xB3, 0x11, 0x22, 0x23, 0xBD, 0xD2, 0x11,
                                     0xB4, 0xB7, 0x00, 0xA0, 0xC9, 0x55, 0xFC, 0x6E};
constexpr Guid kExtendedContentEncryption = {0x14, 0xE6, 0x8A, 0x29, 0x22, 0x26, 0x17, 0x4C,
                                             0xB9, 0x35, 0xDA, 0xE0, 0x7E, 0xE9, 0x28, 0x9C};

constexpr size_t kObjectHead = 24;        // GUID and 64-bit size
constexpr size_t kHeaderObjectHead = 30;  // and a child count and two reserved bytes
constexpr size_t kDataObjectHead = 50;    // and a file id, a packet count, two reserved bytes
// In the file properties: the play duration (100 ns units) and the preroll (ms).
constexpr size_t kPlayDurationAt = kObjectHead + 16 + 8 + 8 + 8;
constexpr size_t kPrerollAt = kPlayDurationAt + 16;

uint64_t Le64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

bool Is(const uint8_t* p, const Guid& g) { return std::memcmp(p, g, sizeof(Guid)) == 0; }

}  // namespace

AsfHeaderFacts ParseAsfHeader(const uint8_t* bytes, size_t size) {
  AsfHeaderFacts facts;
  if (size < kHeaderObjectHead || !Is(bytes, kHeaderObject)) return facts;
  const uint64_t total = Le64(bytes + 16);
  if (total < kHeaderObjectHead) return facts;
  facts.valid = true;
  facts.headerBytes = total;
  const size_t end = total < size ? static_cast<size_t>(total) : size;
  for (size_t at = kHeaderObjectHead; end - at >= kObjectHead;) {
    const uint8_t* child = bytes + at;
    const uint64_t childSize = Le64(child + 16);
    if (childSize < kObjectHead || childSize > end - at) break;
    if (Is(child, kContentEncryption) || Is(child, kExtendedContentEncryption)) {
      facts.protectedContent = true;
    } else if (Is(child, kFileProperties) && childSize >= kPrerollAt + 8) {
      const uint64_t play = Le64(child + kPlayDurationAt) / 10000;
      const uint64_t preroll = Le64(child + kPrerollAt);
      if (play < (uint64_t{1} << 40)) facts.playMs = play > preroll ? static_cast<int64_t>(play - preroll) : 0;
    }
    at += static_cast<size_t>(childSize);
  }
  return facts;
}

int64_t AsfDataPayloadBytes(const uint8_t* head, size_t size) {
  if (size < kObjectHead || !Is(head, kDataObject)) return -1;
  const uint64_t total = Le64(head + 16);
  if (total < kDataObjectHead || total > (uint64_t{1} << 62)) return -1;
  return static_cast<int64_t>(total - kDataObjectHead);
}

}  // namespace wmacore
