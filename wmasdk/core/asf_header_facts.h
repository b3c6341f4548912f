// Facts the reader takes from an ASF file's top-level objects itself, because FFmpeg's
// demuxer either keeps them private (the data object's size) or drops them when the
// file's size disagrees with the header (the play duration), or only logs them
// (encryption).
#pragma once

#include <cstddef>
#include <cstdint>

namespace wmacore {

struct AsfHeaderFacts {
  bool valid = false;             // a header object where FFmpeg looks for it
  bool protectedContent = false;  // a content encryption object of either kind
  int64_t playMs = -1;            // the play duration less the preroll; -1 none usable
  uint64_t headerStart = 0;       // past any ID3v2 tags in front, as FFmpeg skips them
  uint64_t headerBytes = 0;       // the header object's size: the data object follows it
  int64_t dataPayloadBytes = -1;  // what the data object declares past its head; -1 unknown
  uint32_t packetBytes = 0;       // the data packets' fixed size; 0 when it varies
  int64_t prerollMs = 0;
};

// The head of a data packet ASF's writers put in front of its payloads, up to its send time.
constexpr size_t kAsfPacketHeadBytes = 40;
// A data packet's send time (ms) from its first kAsfPacketHeadBytes bytes; -1 when they
// are not a packet's head.
int64_t AsfPacketSendMs(const uint8_t* head);

// Reads n bytes at offset `at` of the file; false unless all of them are there.
using ReadAtFn = bool (*)(void* source, uint64_t at, uint8_t* out, size_t n);

// Walks the header object's children one head at a time (their bodies are skipped, so
// a header of any size is seen whole), bounded by its declared size and child count.
AsfHeaderFacts ReadAsfHeaderFacts(ReadAtFn read, void* source);

// Where FFmpeg starts looking for the ASF header: past every ID3v2 tag at the start.
uint64_t SkipId3v2Tags(ReadAtFn read, void* source);

}  // namespace wmacore
