// The interface of wmaudsdk.dll as the WMA plug-in uses it: three creation functions
// exported by ordinal, and objects whose first word points to a table of operations.
// Every operation takes the object first and uses the Windows API calling convention;
// operations 0 to 2 are QueryInterface, AddRef and Release. The plug-in builds without
// the runtime library, so the objects are plain records with function tables.
#pragma once

#include <windows.h>
#include <mmreg.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct WmaWriter WmaWriter;
typedef struct WmaReader WmaReader;
typedef struct WmaInfo WmaInfo;
typedef struct WmaReaderCallback WmaReaderCallback;

// Slots the plug-in never calls; an implementation answers E_NOTIMPL.
typedef HRESULT(WINAPI* WmaUnusedOp)(void* self);

typedef struct WmaWriterOps {
  HRESULT(WINAPI* QueryInterface)(WmaWriter* self, const GUID* iid, void** out);  // 0
  ULONG(WINAPI* AddRef)(WmaWriter* self);                                         // 1
  ULONG(WINAPI* Release)(WmaWriter* self);                                        // 2
  WmaUnusedOp unused3;                                                            // 3
  // 4: the PCM the writer will be given; 0 when accepted.
  HRESULT(WINAPI* SetInputFormat)(WmaWriter* self, const WAVEFORMATEX* pcm);
  // 5: the compressed format to write; 0 when accepted. The last argument is 0.
  HRESULT(WINAPI* SetOutputFormat)(WmaWriter* self, DWORD bitRate, DWORD sampleRate,
                                   DWORD channels, DWORD reserved);
  WmaUnusedOp unused6;                                                            // 6
  // 7: encode a block of PCM; 0 when accepted.
  HRESULT(WINAPI* Write)(WmaWriter* self, const void* data, DWORD bytes);
  // 8: complete the file.
  HRESULT(WINAPI* Finish)(WmaWriter* self);
} WmaWriterOps;
struct WmaWriter { const WmaWriterOps* ops; };

typedef struct WmaReaderOps {
  HRESULT(WINAPI* QueryInterface)(WmaReader* self, const GUID* iid, void** out);  // 0
  ULONG(WINAPI* AddRef)(WmaReader* self);                                         // 1
  ULONG(WINAPI* Release)(WmaReader* self);                                        // 2
  // 3: an attribute by name ("Duration" in ms, "Bitrate" in bit/s) into value;
  // *length is the room in bytes on entry.
  HRESULT(WINAPI* GetAttribute)(WmaReader* self, const WCHAR* name, DWORD* type, void* value,
                                DWORD* length);
  WmaUnusedOp unused4;                                                            // 4
  WmaUnusedOp unused5;                                                            // 5
  // 6: the decoded stream's format, a WAVEFORMATEX at the start of format.
  HRESULT(WINAPI* GetFormat)(WmaReader* self, void* format, DWORD size);
  // 7: start delivering blocks and status events to the callback, from the reader's thread.
  HRESULT(WINAPI* Start)(WmaReader* self);
  // 8: stop delivering.
  HRESULT(WINAPI* Stop)(WmaReader* self);
} WmaReaderOps;
struct WmaReader { const WmaReaderOps* ops; };

typedef struct WmaInfoOps {
  HRESULT(WINAPI* QueryInterface)(WmaInfo* self, const GUID* iid, void** out);  // 0
  ULONG(WINAPI* AddRef)(WmaInfo* self);                                         // 1
  ULONG(WINAPI* Release)(WmaInfo* self);                                        // 2
} WmaInfoOps;
struct WmaInfo { const WmaInfoOps* ops; };

// The plug-in's callback object, called by the reader from its own thread.
typedef struct WmaReaderCallbackOps {
  HRESULT(WINAPI* QueryInterface)(WmaReaderCallback* self, const GUID* iid, void** out);  // 0
  ULONG(WINAPI* AddRef)(WmaReaderCallback* self);                                         // 1
  ULONG(WINAPI* Release)(WmaReaderCallback* self);                                        // 2
  // 3: one decoded block of PCM; the fourth argument is not used.
  HRESULT(WINAPI* OnSample)(WmaReaderCallback* self, const void* data, DWORD bytes, DWORD unused);
  // 4: a status event (WMA_STATUS_*); the last two arguments are not used.
  HRESULT(WINAPI* OnStatus)(WmaReaderCallback* self, DWORD status, DWORD unused1, DWORD unused2);
} WmaReaderCallbackOps;
struct WmaReaderCallback { const WmaReaderCallbackOps* ops; };

#define WMA_STATUS_ERROR 0
#define WMA_STATUS_END_OF_STREAM 3
#define WMA_STATUS_CODEC_MISSING 7

// Creation functions, bound by ordinal only.
// Ordinal 1: a negative result is failure; otherwise *reader is filled.
HRESULT WINAPI WmaCreateReader(const WCHAR* path, WmaReaderCallback* callback, WmaReader** reader,
                               DWORD reserved);
// Ordinal 2: 0 is success and fills *writer.
HRESULT WINAPI WmaCreateWriter(const WCHAR* path, WmaWriter** writer);
// Ordinal 3: 0 means the file can be read, and fills *info.
HRESULT WINAPI WmaCreateInfo(const WCHAR* path, WmaInfo** info);

#define WMA_ORDINAL_CREATE_READER 1
#define WMA_ORDINAL_CREATE_WRITER 2
#define WMA_ORDINAL_CREATE_INFO 3

#ifdef __cplusplus
}  // extern "C"
#endif
