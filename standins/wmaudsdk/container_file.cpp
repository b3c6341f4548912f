#include "container_file.h"

#include "object_ops.h"

namespace vwma {

HRESULT OpenFinishedContainer(const WCHAR* path, HANDLE* file, ContainerHeader* header) {
  HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) return FromLastError();

  uint8_t bytes[kHeaderSize];
  DWORD got = 0;
  LARGE_INTEGER size{};
  const bool ok = ReadFile(h, bytes, sizeof bytes, &got, nullptr) && got == sizeof bytes &&
                  DecodeHeader(bytes, header) && header->pcmBytes != kUnfinished &&
                  GetFileSizeEx(h, &size) &&
                  static_cast<uint64_t>(size.QuadPart) >= kHeaderSize + uint64_t{header->pcmBytes};
  if (!ok) {
    CloseHandle(h);
    return HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);
  }
  *file = h;
  return S_OK;
}

}  // namespace vwma
