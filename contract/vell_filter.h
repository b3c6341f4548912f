// The filter contract: the records, constants and entry points through which the host
// drives every plug-in. Each plug-in compiles this header in; they share nothing at run time.
#pragma once

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Value every QueryVellFilter returns in its low 16 bits.
#define VELL_FILTER_QUERY_RESULT 0x0482

// Bits of FilterQuery.flags.
#define FILTER_CAN_WRITE   0x002u
#define FILTER_CAN_READ    0x004u
#define FILTER_HAS_OPTIONS 0x100u

// The host's description record. A filter writes only its own fields and leaves every
// other byte as the host passed it. The host may allocate more than this after extension2.
typedef struct FilterQuery {
  char     name[24];
  char     description[80];
  uint16_t capabilityWords[14];
  uint32_t flags;
  char     extension[4];
  uint32_t blockSize;
  char     extension2[4];
} FilterQuery;

// Opaque context of an open input or output; null means failure.
typedef void* FilterHandle;

// Host-defined record of the special-data entry points; no filter here looks inside it.
typedef struct riffspecialdata_t riffspecialdata_t;

WORD  WINAPI QueryVellFilter(FilterQuery* query);
void  WINAPI GetSuggestedSampleType(long* sampleRate, WORD* bitsPerSample, WORD* channels);
DWORD WINAPI FilterGetOptions(HWND ownerWindow, HINSTANCE module, long unused1, long unused2,
                              long unused3, DWORD options);

FilterHandle WINAPI OpenFilterOutput(const char* fileName, long sampleRate, WORD bitsPerSample,
                                     WORD channels, long dataBytes, long* transferSize,
                                     DWORD options);
long  WINAPI WriteFilterOutput(FilterHandle output, const void* data, long bytes);
void  WINAPI CloseFilterOutput(FilterHandle output);
unsigned long WINAPI FilterWriteSpecialData(void* output, const char* listType, const char* type,
                                            char* data, unsigned long size);

long  WINAPI FilterUnderstandsFormat(const char* fileName);
FilterHandle WINAPI OpenFilterInput(const char* fileName, long* sampleRate, WORD* bitsPerSample,
                                    WORD* channels, long unused, long* transferSize);
long  WINAPI ReadFilterInput(FilterHandle input, void* buffer, long bytes);
void  WINAPI CloseFilterInput(FilterHandle input);
long  WINAPI FilterGetFileSize(FilterHandle input);
DWORD WINAPI FilterOptions(FilterHandle input);
DWORD WINAPI FilterOptionsString(FilterHandle input, char* text);
unsigned long WINAPI FilterGetFirstSpecialData(void* input, riffspecialdata_t* data);
unsigned long WINAPI FilterGetNextSpecialData(void* input, riffspecialdata_t* data);

// Pointer types for a host that binds the entry points with GetProcAddress.
typedef WORD  (WINAPI* QueryVellFilterProc)(FilterQuery*);
typedef void  (WINAPI* GetSuggestedSampleTypeProc)(long*, WORD*, WORD*);
typedef DWORD (WINAPI* FilterGetOptionsProc)(HWND, HINSTANCE, long, long, long, DWORD);
typedef FilterHandle (WINAPI* OpenFilterOutputProc)(const char*, long, WORD, WORD, long, long*, DWORD);
typedef long  (WINAPI* WriteFilterOutputProc)(FilterHandle, const void*, long);
typedef void  (WINAPI* CloseFilterOutputProc)(FilterHandle);
typedef unsigned long (WINAPI* FilterWriteSpecialDataProc)(void*, const char*, const char*, char*, unsigned long);
typedef long  (WINAPI* FilterUnderstandsFormatProc)(const char*);
typedef FilterHandle (WINAPI* OpenFilterInputProc)(const char*, long*, WORD*, WORD*, long, long*);
typedef long  (WINAPI* ReadFilterInputProc)(FilterHandle, void*, long);
typedef void  (WINAPI* CloseFilterInputProc)(FilterHandle);
typedef long  (WINAPI* FilterGetFileSizeProc)(FilterHandle);
typedef DWORD (WINAPI* FilterOptionsProc)(FilterHandle);
typedef DWORD (WINAPI* FilterOptionsStringProc)(FilterHandle, char*);
typedef unsigned long (WINAPI* FilterGetSpecialDataProc)(void*, riffspecialdata_t*);

#ifdef __cplusplus
}  // extern "C"
#endif

// The record's offsets are part of the contract with every host, 32-bit or 64-bit.
static_assert(offsetof(FilterQuery, name) == 0, "FilterQuery.name");
static_assert(offsetof(FilterQuery, description) == 24, "FilterQuery.description");
static_assert(offsetof(FilterQuery, capabilityWords) == 104, "FilterQuery.capabilityWords");
static_assert(offsetof(FilterQuery, flags) == 132, "FilterQuery.flags");
static_assert(offsetof(FilterQuery, extension) == 136, "FilterQuery.extension");
static_assert(offsetof(FilterQuery, blockSize) == 140, "FilterQuery.blockSize");
static_assert(offsetof(FilterQuery, extension2) == 144, "FilterQuery.extension2");
static_assert(sizeof(long) == 4, "the contract's long is 32-bit, as on Windows");
