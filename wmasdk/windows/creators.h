// The three creation calls behind the DLL's ordinal exports, and what they share.
#pragma once

#include "core_result.h"
#include "wmaudsdk_api.h"

namespace wmasdk {
HRESULT CreateReader(const WCHAR* path, WmaReaderCallback* callback, WmaReader** reader);
HRESULT CreateWriter(const WCHAR* path, WmaWriter** writer);
HRESULT CreateInfo(const WCHAR* path, WmaInfo** info);

// Opens the file through Windows (its path rules, sharing and errors) and, when that
// works, gives the path in UTF-8 for FFmpeg, which opens it with the wide-character
// calls again. Null with *result set on failure; free it with FreePath.
char* CheckedPath(const WCHAR* path, bool forWriting, HRESULT* result);
void FreePath(char* path);

// The HRESULT for a core result.
HRESULT FromCoreResult(int32_t result);
}  // namespace wmasdk
