// The calls from the Windows half of wmaudsdk.dll into its Linux half, and the records
// they pass. Both compilers (mingw for the DLL, the system's gcc for the shared object,
// 32 or 64 bits either side) must lay the records out alike: fixed-width fields only,
// pointers carried as 64-bit numbers, every record a multiple of 8 bytes.
// Memory stays with the half that allocated it: a path or a buffer handed over is only
// read or filled during the call; the Linux half's objects are freed by its close calls.
#pragma once

#include <stdint.h>

enum WmaBridgeCall {
  kBridgeWriterOpen = 0,    // WmaBridgeOpen: create the file, return a writer
  kBridgeWriterOutput = 1,  // WmaBridgeWriterOutput: the compressed format
  kBridgeWriterInput = 2,   // WmaBridgeWriterInput: the PCM format
  kBridgeWriterWrite = 3,   // WmaBridgeData: encode PCM
  kBridgeWriterFinish = 4,  // WmaBridgeObject: complete the file
  kBridgeWriterClose = 5,   // WmaBridgeObject: free the writer (finishing nothing)
  kBridgeReaderOpen = 6,    // WmaBridgeOpen + WmaBridgeStream: open a file for decoding
  kBridgeReaderNext = 7,    // WmaBridgeData: the next decoded PCM
  kBridgeReaderClose = 8,   // WmaBridgeObject: free the reader
  kBridgeCallCount = 9
};

// Results in the records' `result` fields: 0, or one of these.
enum WmaBridgeResult {
  kBridgeOk = 0,
  kBridgeFailed = -1,         // anything else
  kBridgeNoFile = -2,         // the path cannot be opened
  kBridgeDenied = -3,         // no permission
  kBridgeDiskFull = -4,       // no room, or over the file-size limit
  kBridgeRefused = -5,        // a format or file this library does not handle
  kBridgeWrongState = -6,     // a call out of order (formats after the first write ...)
  kBridgeNoMemory = -7
};

// States of a reader's stream after a kBridgeReaderNext call.
enum WmaBridgeStreamState {
  kBridgeMore = 0,     // more PCM may follow
  kBridgeEnded = 1,    // the stream ended as its header said
  kBridgeDamaged = 2   // the stream ended early or parts of it did not decode
};

typedef struct WmaBridgeObject {
  uint64_t object;  // the Linux half's writer or reader
  int32_t result;
  uint32_t reserved;
} WmaBridgeObject;

typedef struct WmaBridgeOpen {
  uint64_t unixPath;  // in: zero-terminated UTF-8 path
  uint64_t object;    // out: the writer or reader
  int32_t result;
  uint32_t reserved;
} WmaBridgeOpen;

typedef struct WmaBridgeStream {  // kBridgeReaderOpen answers in this record
  WmaBridgeOpen open;
  uint32_t sampleRate;  // of the decoded PCM, which is 16-bit interleaved
  uint32_t channels;
  uint32_t bitRate;     // bit/s of the compressed stream
  uint32_t durationMs;
} WmaBridgeStream;

typedef struct WmaBridgeWriterOutput {
  uint64_t object;
  uint32_t bitRate;          // in: bit/s asked for
  uint32_t sampleRate;
  uint32_t channels;
  uint32_t writtenBitRate;   // out: bit/s the file will have (the encoder's lowest may be above)
  int32_t result;
  uint32_t reserved;
} WmaBridgeWriterOutput;

typedef struct WmaBridgeWriterInput {
  uint64_t object;
  uint32_t sampleRate;
  uint16_t channels;
  uint16_t bitsPerSample;  // 8 (unsigned) or 16 (signed, little-endian)
  int32_t result;
  uint32_t reserved;
} WmaBridgeWriterInput;

typedef struct WmaBridgeData {
  uint64_t object;
  uint64_t data;      // writer: the PCM to encode; reader: the buffer to fill
  uint32_t bytes;     // writer: length of data; reader: in the room, out the bytes stored
  int32_t result;
  uint32_t state;     // reader: a WmaBridgeStreamState
  uint32_t reserved;
} WmaBridgeData;

#ifdef __cplusplus
static_assert(sizeof(WmaBridgeObject) == 16, "same layout in both halves");
static_assert(sizeof(WmaBridgeOpen) == 24, "same layout in both halves");
static_assert(sizeof(WmaBridgeStream) == 40, "same layout in both halves");
static_assert(sizeof(WmaBridgeWriterOutput) == 32, "same layout in both halves");
static_assert(sizeof(WmaBridgeWriterInput) == 24, "same layout in both halves");
static_assert(sizeof(WmaBridgeData) == 32, "same layout in both halves");
#endif
