// Opening a finished container for reading: shared by the reader and the info object.
#pragma once

#include "container.h"

#include <windows.h>

namespace vwma {

// Opens path and checks that it is a finished container whose PCM bytes are all present.
// On success returns S_OK with the open handle (positioned after the header) and the header;
// otherwise a negative code and nothing open.
HRESULT OpenFinishedContainer(const WCHAR* path, HANDLE* file, ContainerHeader* header);

}  // namespace vwma
