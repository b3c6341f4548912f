// Reads the machine type and the imported DLL names of a Windows module from its bytes,
// so the host can say which DLL is missing when a plug-in will not load. Portable;
// every offset is checked against the image, which may be any file at all.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pe {

constexpr uint16_t kMachineI386 = 0x014C;
constexpr uint16_t kMachineAmd64 = 0x8664;

struct ModuleInfo {
  uint16_t machine = 0;
  std::vector<std::string> importedDlls;  // in import-table order
};

// False when the bytes are not a well-formed PE image.
bool ReadModuleInfo(const std::vector<uint8_t>& image, ModuleInfo& info);

// "32-bit x86", "64-bit x86-64" or the machine number in hex.
std::string MachineName(uint16_t machine);

// The whole file; empty when it cannot be read.
std::vector<uint8_t> ReadWholeFile(const std::string& path);

}  // namespace pe
