// Facts the reader takes from an ASF file's top-level objects itself, because FFmpeg's
// demuxer either keeps them private (the data object's size) or drops them when the
// file's size disagrees with the header (the play duration), or only logs them
// (encryption).
#pragma once

#include <cstddef>
#include <cstdint>

namespace wmacore {

struct AsfHeaderFacts {
  bool valid = false;          // a header object that holds its children
  bool protectedContent = false;  // a content encryption object of either kind
  int64_t playMs = -1;         // the file properties' play duration less the preroll; -1 unknown
  uint64_t headerBytes = 0;    // the header object's size: the data object starts there
};

// Parses the header object at the start of an ASF file (`bytes` may stop short of the
// whole object: what is present is scanned).
AsfHeaderFacts ParseAsfHeader(const uint8_t* bytes, size_t size);

// The payload bytes a data object declares (its size less its 50-byte head), given its
// first 24 bytes; -1 when they are not a data object's.
int64_t AsfDataPayloadBytes(const uint8_t* head, size_t size);

}  // namespace wmacore
