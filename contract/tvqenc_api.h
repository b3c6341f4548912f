// The contract with the TwinVQ encoder library TVQENC.DLL: the records exchanged with it
// and its eight entry points. The plug-in's binding and our stand-in library both compile
// this header, so the layouts and the calling convention are declared exactly once.
//
// Calling convention: every entry point uses the C calling convention (__cdecl), where
// the caller pops the arguments. The library's own header declares its functions with no
// convention at all (exported with __declspec(dllexport) only), so that is how it was
// built and how every other program that loads it calls it. This differs from the host's
// entry points into our plug-ins, which are __stdcall (WINAPI) like the Windows API. On
// i686 a mismatch leaves the stack off by the arguments' size after every call; the
// 64-bit builds have a single convention and cannot show it. TVQ_API expands to __cdecl
// on Windows and to nothing elsewhere, so the same declarations serve native builds where
// the functions are reached through pointers or linked in directly. The exports carry
// plain, undecorated names (.def file), as cdecl names have no @N suffix.
//
// All integers are signed 32-bit little-endian; texts are zero-terminated 8-bit arrays.
// The offsets asserted below are those of the 32-bit library; FrameIndex and
// CodebookWidths hold pointers and therefore grow in 64-bit builds.
#pragma once

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define TVQ_API __cdecl
#else
#define TVQ_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Stream settings and header texts; one per output file, zero-filled before use.
typedef struct HeaderInfo {
  char    versionId[20];     // written by TvqGetVersionID; the file's leading identifier
  int32_t channelMode;       // 0 mono, 1 stereo
  int32_t bitRate;           // total kbps (channels x kbps per channel)
  int32_t samplingRate;      // kHz code: Hz / 1000, truncated (44100 -> 44)
  int32_t securityLevel;
  char    name[512];
  char    comment[512];
  char    author[512];
  char    rights[512];
  char    file[512];
  char    reserved[512];
  int32_t dataSize;
} HeaderInfo;

// The library's tuning word; the plug-in sets it to 16.
typedef struct EncoderTuning {
  int32_t value;
} EncoderTuning;

// One frame's quantiser indices. The library owns every array the pointers lead to and
// sets the pointers itself; the plug-in only reads them after TvqEncodeFrame.
typedef struct FrameIndex {
  int32_t  typeCode;          // first value of a frame record
  int32_t  blockType;         // 0, 1 or 2: entry of EncoderConfig.blockTypes
  int32_t  libraryPrivate[6]; // the library's own; never touched by the plug-in
  int32_t* shape;             // 2 x shapeCount: first halves, then second halves
  int32_t* forward;           // channels x subBlocks x forwardCount
  int32_t* forwardAr;         // channels x subBlocks
  int32_t* power;             // channels x (subPowerCount + 1)
  int32_t* lsp[2];            // per channel: 2 + lsp2Count
  int32_t  pitch[2];          // per channel
  int32_t* pitchCodebook;     // 2 x pitchCodebookCount
  int32_t  pitchGain[2];      // per channel
  int32_t* pb[2];             // per channel: subBlocks x (pbEnd - pbStart)
  int32_t  reserved;
} FrameIndex;

// The frame-record layout of one block type.
typedef struct BlockTypeConfig {
  int32_t reserved0;
  int32_t subBlocks;       // sub-blocks per channel
  int32_t shapeCount;      // shape index pairs (type 2: refreshed per frame)
  int32_t pbEnd;           // end (exclusive) of the pb range
  int32_t forwardCount;    // forward values per sub-block and channel
  int32_t forwardBits;     // width of each forward value
  int32_t subPowerCount;   // further power values per channel
  int32_t hasPitch;        // non-zero: the record has a pitch part
  int32_t hasPb;           // non-zero: the record has a pb part
  int32_t pbStart;         // start of the pb range
  int32_t pbBits;          // width of each pb value
  int32_t reserved[4];
} BlockTypeConfig;

// Field widths and counts of a frame record, filled by TvqEncGetConfInfo.
typedef struct EncoderConfig {
  int32_t channels;            // 1 or 2
  int32_t typeCodeBits;
  int32_t lsp0Bits;
  int32_t lsp1Bits;
  int32_t lsp2Bits;
  int32_t lsp2Count;
  int32_t forwardArBits;
  int32_t powerBits;
  int32_t subPowerBits;
  int32_t pitchCodebookCount;  // pitch codebook index pairs
  int32_t pitchBits;
  int32_t pitchGainBits;
  BlockTypeConfig blockTypes[3];  // 0 short, 1 medium, 2 long
} EncoderConfig;

// Bit widths of the first (widths0) and second (widths1) index of every shape pair of
// block types 0 to 2 (entries 0-2) and of the pitch codebook pairs (entry 3). The arrays
// belong to the library; TvqEncGetVectorInfo fills the eight pointers.
typedef struct CodebookWidths {
  int32_t* widths0[4];
  int32_t* widths1[4];
} CodebookWidths;

// The entry points, bound by name. Results the plug-in ignores are still int32_t.
int32_t TVQ_API TvqGetVersionID(int32_t which, char* versionId);
int32_t TVQ_API TvqEncInitialize(HeaderInfo* header, EncoderTuning* tuning, FrameIndex* index,
                                 int32_t flags);  // 0 success
int32_t TVQ_API TvqEncGetConfInfo(EncoderConfig* config);
int32_t TVQ_API TvqEncGetVectorInfo(int32_t** widths0, int32_t** widths1);
int32_t TVQ_API TvqEncGetFrameSize(void);  // samples per channel in one frame
int32_t TVQ_API TvqEncodeFrame(const float* samples, FrameIndex* index);
int32_t TVQ_API TvqEncUpdateVectorInfo(int32_t which, int32_t* shapeCount, int32_t* widths0,
                                       int32_t* widths1);
int32_t TVQ_API TvqEncTerminate(FrameIndex* index);

typedef int32_t (TVQ_API* TvqGetVersionIDProc)(int32_t, char*);
typedef int32_t (TVQ_API* TvqEncInitializeProc)(HeaderInfo*, EncoderTuning*, FrameIndex*, int32_t);
typedef int32_t (TVQ_API* TvqEncGetConfInfoProc)(EncoderConfig*);
typedef int32_t (TVQ_API* TvqEncGetVectorInfoProc)(int32_t**, int32_t**);
typedef int32_t (TVQ_API* TvqEncGetFrameSizeProc)(void);
typedef int32_t (TVQ_API* TvqEncodeFrameProc)(const float*, FrameIndex*);
typedef int32_t (TVQ_API* TvqEncUpdateVectorInfoProc)(int32_t, int32_t*, int32_t*, int32_t*);
typedef int32_t (TVQ_API* TvqEncTerminateProc)(FrameIndex*);

#ifdef __cplusplus
}  // extern "C"
#endif

#if defined(__cplusplus) && defined(_WIN32) && !defined(_WIN64)
// On i686 a function type carries its convention: the pointers the plug-in calls through
// must be the caller-pops kind, not the host's __stdcall.
#include <type_traits>
static_assert(std::is_same<TvqEncodeFrameProc, int32_t(__cdecl*)(const float*, FrameIndex*)>::value &&
                  !std::is_same<TvqEncodeFrameProc, int32_t(__stdcall*)(const float*, FrameIndex*)>::value,
              "TVQENC.DLL entry points are __cdecl");
static_assert(std::is_same<TvqEncUpdateVectorInfoProc,
                           int32_t(__cdecl*)(int32_t, int32_t*, int32_t*, int32_t*)>::value,
              "TVQENC.DLL entry points are __cdecl");
#endif

// The version text our files start with.
#define TVQ_VERSION_ID "TWIN97012000"

// Layouts that hold in every build.
static_assert(sizeof(HeaderInfo) == 3112, "HeaderInfo size");
static_assert(offsetof(HeaderInfo, channelMode) == 20, "HeaderInfo.channelMode");
static_assert(offsetof(HeaderInfo, bitRate) == 24, "HeaderInfo.bitRate");
static_assert(offsetof(HeaderInfo, samplingRate) == 28, "HeaderInfo.samplingRate");
static_assert(offsetof(HeaderInfo, securityLevel) == 32, "HeaderInfo.securityLevel");
static_assert(offsetof(HeaderInfo, name) == 36, "HeaderInfo.name");
static_assert(offsetof(HeaderInfo, comment) == 548, "HeaderInfo.comment");
static_assert(offsetof(HeaderInfo, author) == 1060, "HeaderInfo.author");
static_assert(offsetof(HeaderInfo, rights) == 1572, "HeaderInfo.rights");
static_assert(offsetof(HeaderInfo, file) == 2084, "HeaderInfo.file");
static_assert(offsetof(HeaderInfo, reserved) == 2596, "HeaderInfo.reserved");
static_assert(offsetof(HeaderInfo, dataSize) == 3108, "HeaderInfo.dataSize");
static_assert(sizeof(EncoderTuning) == 4, "EncoderTuning size");
static_assert(sizeof(BlockTypeConfig) == 60, "BlockTypeConfig size");
static_assert(offsetof(BlockTypeConfig, subBlocks) == 4, "BlockTypeConfig.subBlocks");
static_assert(offsetof(BlockTypeConfig, shapeCount) == 8, "BlockTypeConfig.shapeCount");
static_assert(offsetof(BlockTypeConfig, pbEnd) == 12, "BlockTypeConfig.pbEnd");
static_assert(offsetof(BlockTypeConfig, forwardCount) == 16, "BlockTypeConfig.forwardCount");
static_assert(offsetof(BlockTypeConfig, forwardBits) == 20, "BlockTypeConfig.forwardBits");
static_assert(offsetof(BlockTypeConfig, subPowerCount) == 24, "BlockTypeConfig.subPowerCount");
static_assert(offsetof(BlockTypeConfig, hasPitch) == 28, "BlockTypeConfig.hasPitch");
static_assert(offsetof(BlockTypeConfig, hasPb) == 32, "BlockTypeConfig.hasPb");
static_assert(offsetof(BlockTypeConfig, pbStart) == 36, "BlockTypeConfig.pbStart");
static_assert(offsetof(BlockTypeConfig, pbBits) == 40, "BlockTypeConfig.pbBits");
static_assert(sizeof(EncoderConfig) == 228, "EncoderConfig size");
static_assert(offsetof(EncoderConfig, typeCodeBits) == 4, "EncoderConfig.typeCodeBits");
static_assert(offsetof(EncoderConfig, lsp0Bits) == 8, "EncoderConfig.lsp0Bits");
static_assert(offsetof(EncoderConfig, lsp1Bits) == 12, "EncoderConfig.lsp1Bits");
static_assert(offsetof(EncoderConfig, lsp2Bits) == 16, "EncoderConfig.lsp2Bits");
static_assert(offsetof(EncoderConfig, lsp2Count) == 20, "EncoderConfig.lsp2Count");
static_assert(offsetof(EncoderConfig, forwardArBits) == 24, "EncoderConfig.forwardArBits");
static_assert(offsetof(EncoderConfig, powerBits) == 28, "EncoderConfig.powerBits");
static_assert(offsetof(EncoderConfig, subPowerBits) == 32, "EncoderConfig.subPowerBits");
static_assert(offsetof(EncoderConfig, pitchCodebookCount) == 36, "EncoderConfig.pitchCodebookCount");
static_assert(offsetof(EncoderConfig, pitchBits) == 40, "EncoderConfig.pitchBits");
static_assert(offsetof(EncoderConfig, pitchGainBits) == 44, "EncoderConfig.pitchGainBits");
static_assert(offsetof(EncoderConfig, blockTypes) == 48, "EncoderConfig.blockTypes");
static_assert(offsetof(FrameIndex, blockType) == 4, "FrameIndex.blockType");
static_assert(offsetof(FrameIndex, shape) == 32, "FrameIndex.shape");

#if UINTPTR_MAX == 0xFFFFFFFFu
// The 32-bit library's offsets.
static_assert(sizeof(FrameIndex) == 88, "FrameIndex size");
static_assert(offsetof(FrameIndex, forward) == 36, "FrameIndex.forward");
static_assert(offsetof(FrameIndex, forwardAr) == 40, "FrameIndex.forwardAr");
static_assert(offsetof(FrameIndex, power) == 44, "FrameIndex.power");
static_assert(offsetof(FrameIndex, lsp) == 48, "FrameIndex.lsp");
static_assert(offsetof(FrameIndex, pitch) == 56, "FrameIndex.pitch");
static_assert(offsetof(FrameIndex, pitchCodebook) == 64, "FrameIndex.pitchCodebook");
static_assert(offsetof(FrameIndex, pitchGain) == 68, "FrameIndex.pitchGain");
static_assert(offsetof(FrameIndex, pb) == 76, "FrameIndex.pb");
static_assert(offsetof(FrameIndex, reserved) == 84, "FrameIndex.reserved");
static_assert(sizeof(CodebookWidths) == 32, "CodebookWidths size");
static_assert(offsetof(CodebookWidths, widths1) == 16, "CodebookWidths.widths1");
#else
// 64-bit: the same fields with 8-byte pointers; room for a library pointer in libraryPrivate.
static_assert(sizeof(FrameIndex) == 128, "FrameIndex size (64-bit)");
static_assert(offsetof(FrameIndex, pb) == 104, "FrameIndex.pb (64-bit)");
static_assert(sizeof(CodebookWidths) == 64, "CodebookWidths size (64-bit)");
#endif
