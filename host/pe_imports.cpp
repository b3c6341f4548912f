#include "pe_imports.h"

#include <cstdio>

namespace pe {
namespace {

class Image {
 public:
  explicit Image(const std::vector<uint8_t>& bytes) : b_(bytes) {}
  bool Has(uint64_t offset, uint64_t size) const { return offset <= b_.size() && size <= b_.size() - offset; }
  uint16_t U16(uint64_t o) const { return Has(o, 2) ? uint16_t(b_[o] | (b_[o + 1] << 8)) : 0; }
  uint32_t U32(uint64_t o) const { return Has(o, 4) ? uint32_t(U16(o)) | (uint32_t(U16(o + 2)) << 16) : 0; }
  // A zero-terminated name at a file offset; empty when it runs off the image.
  std::string Text(uint64_t o) const {
    std::string s;
    while (o < b_.size() && b_[o] && s.size() < 256) s += char(b_[o++]);
    return (o < b_.size() && !b_[o]) ? s : std::string();
  }

 private:
  const std::vector<uint8_t>& b_;
};

struct Section {
  uint32_t virtualAddress, virtualSize, rawOffset, rawSize;
};

// File offset of a relative virtual address, or 0 when no section holds it.
uint64_t FileOffset(const std::vector<Section>& sections, uint32_t rva) {
  for (const Section& s : sections) {
    const uint32_t span = s.virtualSize > s.rawSize ? s.virtualSize : s.rawSize;
    if (rva >= s.virtualAddress && rva - s.virtualAddress < span && rva - s.virtualAddress < s.rawSize)
      return uint64_t(s.rawOffset) + (rva - s.virtualAddress);
  }
  return 0;
}

}  // namespace

bool ReadModuleInfo(const std::vector<uint8_t>& bytes, ModuleInfo& info) {
  const Image img(bytes);
  if (!img.Has(0, 64) || bytes[0] != 'M' || bytes[1] != 'Z') return false;
  const uint64_t pe = img.U32(0x3C);
  if (!img.Has(pe, 24) || img.U32(pe) != 0x00004550u) return false;
  info.machine = img.U16(pe + 4);
  const uint16_t sectionCount = img.U16(pe + 6);
  const uint16_t optionalBytes = img.U16(pe + 20);
  const uint64_t opt = pe + 24;
  const uint16_t magic = img.U16(opt);
  uint64_t dirCountAt = 0;
  if (magic == 0x10B) dirCountAt = opt + 92;        // PE32
  else if (magic == 0x20B) dirCountAt = opt + 108;  // PE32+
  else return false;
  if (!img.Has(opt, optionalBytes) || dirCountAt + 4 > opt + optionalBytes) return false;

  std::vector<Section> sections;
  const uint64_t table = opt + optionalBytes;
  if (!img.Has(table, uint64_t(sectionCount) * 40)) return false;
  for (uint16_t i = 0; i < sectionCount; ++i) {
    const uint64_t s = table + uint64_t(i) * 40;
    sections.push_back({img.U32(s + 12), img.U32(s + 8), img.U32(s + 20), img.U32(s + 16)});
  }

  info.importedDlls.clear();
  const uint32_t dirCount = img.U32(dirCountAt);
  const uint64_t importDir = dirCountAt + 4 + 8;  // directory 1: imports
  if (dirCount < 2 || importDir + 8 > opt + optionalBytes) return true;
  const uint32_t importRva = img.U32(importDir);
  if (importRva == 0) return true;
  uint64_t descriptor = FileOffset(sections, importRva);
  if (descriptor == 0) return false;
  // Descriptors of 20 bytes each, ended by one whose fields are all zero.
  for (int n = 0; n < 4096 && img.Has(descriptor, 20); ++n, descriptor += 20) {
    const uint32_t nameRva = img.U32(descriptor + 12);
    if (nameRva == 0 && img.U32(descriptor) == 0 && img.U32(descriptor + 16) == 0) return true;
    const uint64_t nameAt = FileOffset(sections, nameRva);
    const std::string name = nameAt ? img.Text(nameAt) : std::string();
    if (name.empty()) return false;
    info.importedDlls.push_back(name);
  }
  return false;
}

std::string MachineName(uint16_t machine) {
  if (machine == kMachineI386) return "32-bit x86";
  if (machine == kMachineAmd64) return "64-bit x86-64";
  char text[16];
  std::snprintf(text, sizeof text, "0x%04X", machine);
  return text;
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return bytes;
  uint8_t buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + got);
  std::fclose(f);
  return bytes;
}

}  // namespace pe
