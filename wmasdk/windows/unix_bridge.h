// The Windows half's way into the Linux half: wine's unix-call dispatcher and this
// module's unix-library handle, found once when the DLL is attached.
#pragma once

#include "bridge.h"

#include <windows.h>

namespace wmasdk {

// Finds the dispatcher and the handle; false when this DLL was not loaded as a wine
// builtin with its Linux half (then every object creation fails).
bool ConnectUnixHalf(HMODULE self);
bool UnixHalfConnected();
// Runs one bridge call; false when the Linux half could not be called.
bool CallUnix(WmaBridgeCall call, void* record);

// The Unix path of a Windows path, allocated by wine on the process heap: release it
// with FreeUnixPath. Null when the path has no Unix form.
char* UnixPath(const WCHAR* path);
void FreeUnixPath(char* path);

// The HRESULT for a bridge result.
HRESULT FromBridgeResult(int32_t result);

}  // namespace wmasdk
