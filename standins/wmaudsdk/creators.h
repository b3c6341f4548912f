// The three creation calls behind the exported ordinals.
#pragma once

#include "wmaudsdk_api.h"

namespace vwma {
HRESULT CreateReader(const WCHAR* path, WmaReaderCallback* callback, WmaReader** reader);
HRESULT CreateWriter(const WCHAR* path, WmaWriter** writer);
HRESULT CreateInfo(const WCHAR* path, WmaInfo** info);
}  // namespace vwma
