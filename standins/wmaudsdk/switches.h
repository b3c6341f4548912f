// Fault and pacing switches that tests set in the process environment. Each creation
// call reads them afresh; parsing is portable, the environment lookup is the caller's.
#pragma once

#include <cstdint>

namespace vwma {

// Which creation calls fail (VELL_WMA_FAIL_CREATE, a comma-separated subset).
enum CreateKind : uint32_t { kCreateReader = 1, kCreateWriter = 2, kCreateInfo = 4 };

// Reads the value of one variable; null when it is not set.
using Lookup = const char* (*)(const char* name, void* state);

struct WriterSwitches {
  bool refuseOutput = false;  // VELL_WMA_REFUSE_OUTPUT=1
  bool refuseInput = false;   // VELL_WMA_REFUSE_INPUT=1
  uint32_t refuseWrite = 0;   // VELL_WMA_REFUSE_WRITE=N: the N-th Write fails; 0 = none
};

struct ReaderSwitches {
  uint32_t block = 4096;       // VELL_WMA_BLOCK
  uint32_t blockGrow = 0;      // VELL_WMA_BLOCK_GROW: block k is blockGrow × (k+1); 0 = off
  bool hasStatus = false;      // VELL_WMA_STATUS=S@K
  uint32_t status = 0;
  uint64_t statusBefore = 0;   // the block index K the status precedes
  bool silent = false;         // VELL_WMA_SILENT_AFTER=K
  uint64_t silentAfter = 0;
  bool extraRef = false;       // VELL_WMA_EXTRA_REF_MS=N
  uint32_t extraRefMs = 0;

  // Byte size of block k before it is cut to what remains of the stream.
  uint64_t BlockSize(uint64_t k) const {
    return blockGrow ? static_cast<uint64_t>(blockGrow) * (k + 1) : block;
  }
};

// A decimal number that fits 32 bits, nothing else; false for anything malformed.
bool ParseCount(const char* text, uint32_t* value);

// "reader,writer,info" (any subset, any order, blanks ignored) → CreateKind bits.
uint32_t ParseCreateFailures(const char* text);

// "S@K" → status and block index; false when malformed.
bool ParseStatusAt(const char* text, uint32_t* status, uint64_t* beforeBlock);

uint32_t ReadCreateFailures(Lookup lookup, void* state);
WriterSwitches ReadWriterSwitches(Lookup lookup, void* state);
ReaderSwitches ReadReaderSwitches(Lookup lookup, void* state);

}  // namespace vwma
