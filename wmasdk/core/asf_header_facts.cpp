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

constexpr uint64_t kObjectHead = 24;        // GUID and 64-bit size
constexpr uint64_t kHeaderObjectHead = 30;  // and a child count and two reserved bytes
constexpr uint64_t kDataObjectHead = 50;    // and a file id, a packet count, two reserved bytes
constexpr uint64_t kLargestOffset = uint64_t{1} << 62;  // far beyond any real file
// In the file properties, from the object's start: the play duration (100 ns units), the
// preroll (ms) and the flags, whose lowest bit (broadcast) says the durations are not set.
constexpr size_t kPlayDurationAt = 64;
constexpr size_t kPrerollAt = 80;
constexpr size_t kFlagsAt = 88;
constexpr size_t kMinPacketAt = 92;
constexpr size_t kMaxPacketAt = 96;
constexpr size_t kFilePropertiesRead = kMaxPacketAt + 4;
constexpr uint32_t kBroadcastFlag = 1;

constexpr size_t kId3Head = 10;

uint64_t Le(const uint8_t* p, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

bool Is(const uint8_t* p, const Guid& g) { return std::memcmp(p, g, sizeof(Guid)) == 0; }

// An ID3v2 tag's head as FFmpeg recognises one; its whole size, or 0.
uint64_t Id3v2TagBytes(const uint8_t* h) {
  if (h[0] != 'I' || h[1] != 'D' || h[2] != '3' || h[3] == 0xFF || h[4] == 0xFF || (h[5] & 0x0F) != 0 ||
      ((h[6] | h[7] | h[8] | h[9]) & 0x80) != 0)
    return 0;
  const uint64_t body = uint64_t{h[6]} << 21 | uint64_t{h[7]} << 14 | uint64_t{h[8]} << 7 | h[9];
  const bool footer = h[3] == 4 && (h[5] & 0x10) != 0;  // FFmpeg skips a footer of version 4 only
  return kId3Head + body + (footer ? kId3Head : 0);
}

// Play duration less preroll from a file properties object; -1 when the file says it has
// none (broadcast flag) or it is out of any sane range.
int64_t PlayMs(const uint8_t* props) {
  if (Le(props + kFlagsAt, 4) & kBroadcastFlag) return -1;
  const uint64_t play = Le(props + kPlayDurationAt, 8) / 10000;
  const uint64_t preroll = Le(props + kPrerollAt, 8);
  if (play >= (uint64_t{1} << 40) || play <= preroll) return -1;
  return static_cast<int64_t>(play - preroll);
}

}  // namespace

uint64_t SkipId3v2Tags(ReadAtFn read, void* source) {
  uint64_t at = 0;
  uint8_t head[kId3Head];
  while (at < kLargestOffset && read(source, at, head, sizeof head)) {
    const uint64_t bytes = Id3v2TagBytes(head);
    if (!bytes) break;
    at += bytes;
  }
  return at;
}

AsfHeaderFacts ReadAsfHeaderFacts(ReadAtFn read, void* source) {
  AsfHeaderFacts facts;
  const uint64_t start = SkipId3v2Tags(read, source);
  uint8_t head[kHeaderObjectHead];
  if (start >= kLargestOffset || !read(source, start, head, sizeof head) || !Is(head, kHeaderObject))
    return facts;
  const uint64_t total = Le(head + 16, 8);
  if (total < kHeaderObjectHead || total > kLargestOffset) return facts;
  facts.valid = true;
  facts.headerStart = start;
  facts.headerBytes = total;
  uint64_t children = Le(head + 24, 4);
  const uint64_t end = start + total;
  for (uint64_t at = start + kHeaderObjectHead; children > 0 && end - at >= kObjectHead; --children) {
    uint8_t child[kFilePropertiesRead];
    if (!read(source, at, child, kObjectHead)) break;
    const uint64_t childSize = Le(child + 16, 8);
    if (childSize < kObjectHead || childSize > end - at) break;
    if (Is(child, kContentEncryption) || Is(child, kExtendedContentEncryption)) {
      facts.protectedContent = true;
    } else if (Is(child, kFileProperties) && childSize >= kFilePropertiesRead &&
               read(source, at + kObjectHead, child + kObjectHead, kFilePropertiesRead - kObjectHead)) {
      facts.playMs = PlayMs(child);
      facts.prerollMs = static_cast<int64_t>(Le(child + kPrerollAt, 8) & 0xFFFFFFFF);
      const uint64_t packet = Le(child + kMinPacketAt, 4);
      if (packet == Le(child + kMaxPacketAt, 4)) facts.packetBytes = static_cast<uint32_t>(packet);
    }
    at += childSize;
  }
  uint8_t data[kObjectHead];
  if (read(source, end, data, sizeof data) && Is(data, kDataObject)) {
    const uint64_t declared = Le(data + 16, 8);
    if (declared > kDataObjectHead && declared <= kLargestOffset)
      facts.dataPayloadBytes = static_cast<int64_t>(declared - kDataObjectHead);
  }
  return facts;
}

int64_t AsfPacketSendMs(const uint8_t* head) {
  // Error correction data (its length in the low bits), when the top bit says so.
  size_t at = head[0] & 0x80 ? 1 + (head[0] & 0x0F) : 0;
  if ((head[0] & 0x80) && (head[0] & 0x60)) return -1;  // a length type no writer uses
  const uint8_t lengthTypes = head[at];
  at += 2;  // the length types and the property flags
  static constexpr size_t kFieldBytes[4] = {0, 1, 2, 4};
  // Packet length, sequence and padding length, each as wide as its two bits say.
  at += kFieldBytes[lengthTypes >> 5 & 3] + kFieldBytes[lengthTypes >> 1 & 3] + kFieldBytes[lengthTypes >> 3 & 3];
  static_assert(1 + 15 + 2 + 3 * 4 + 4 <= kAsfPacketHeadBytes, "the widest head fits");
  return static_cast<int64_t>(Le(head + at, 4));
}

}  // namespace wmacore
