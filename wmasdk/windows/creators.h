// The three creation calls behind the DLL's ordinal exports.
#pragma once

#include "wmaudsdk_api.h"

namespace wmasdk {
HRESULT CreateReader(const WCHAR* path, WmaReaderCallback* callback, WmaReader** reader);
HRESULT CreateWriter(const WCHAR* path, WmaWriter** writer);
HRESULT CreateInfo(const WCHAR* path, WmaInfo** info);

// Opens the file through Windows (its path rules, sharing and errors) and, when that
// works, gives its Unix path for the Linux half. Null with *result set on failure.
char* CheckedUnixPath(const WCHAR* path, bool forWriting, HRESULT* result);
}  // namespace wmasdk
