#include "pe_imports.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

void Put(std::vector<uint8_t>& b, size_t at, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

// A minimal 64-bit image: one section at RVA 0x1000 (file 0x200) holding the import table.
std::vector<uint8_t> TinyImage(bool withImports = true) {
  std::vector<uint8_t> b(0x400, 0);
  b[0] = 'M';
  b[1] = 'Z';
  Put(b, 0x3C, 0x40, 4);
  std::memcpy(&b[0x40], "PE\0\0", 4);
  Put(b, 0x44, pe::kMachineAmd64, 2);
  Put(b, 0x46, 1, 2);    // one section
  Put(b, 0x54, 240, 2);  // optional header: 112 bytes and 16 directories
  const size_t opt = 0x58;
  Put(b, opt, 0x20B, 2);
  Put(b, opt + 108, 16, 4);
  if (withImports) Put(b, opt + 120, 0x1000, 4);
  const size_t section = opt + 240;
  Put(b, section + 8, 0x200, 4);
  Put(b, section + 12, 0x1000, 4);
  Put(b, section + 16, 0x200, 4);
  Put(b, section + 20, 0x200, 4);
  Put(b, 0x200 + 12, 0x1050, 4);
  Put(b, 0x200 + 20 + 12, 0x1060, 4);
  std::strcpy(reinterpret_cast<char*>(&b[0x250]), "KERNEL32.dll");
  std::strcpy(reinterpret_cast<char*>(&b[0x260]), "absent.dll");
  return b;
}

TEST(PeImports, ReadsMachineAndImportedDlls) {
  pe::ModuleInfo info;
  ASSERT_TRUE(pe::ReadModuleInfo(TinyImage(), info));
  EXPECT_EQ(info.machine, pe::kMachineAmd64);
  EXPECT_EQ(info.importedDlls, (std::vector<std::string>{"KERNEL32.dll", "absent.dll"}));
  EXPECT_EQ(pe::MachineName(pe::kMachineI386), "32-bit x86");

  pe::ModuleInfo none;
  ASSERT_TRUE(pe::ReadModuleInfo(TinyImage(false), none));
  EXPECT_TRUE(none.importedDlls.empty());
}

TEST(PeImports, DamagedImagesAreRejectedWithoutReadingOutside) {
  std::vector<std::vector<uint8_t>> damaged;
  damaged.push_back({});
  auto cut = TinyImage();
  cut.resize(0x20A);  // ends inside the first import descriptor
  damaged.push_back(cut);
  auto farHeader = TinyImage();
  Put(farHeader, 0x3C, 0xFFFFFFF0u, 4);
  damaged.push_back(farHeader);
  auto badName = TinyImage();
  Put(badName, 0x200 + 12, 0x9000, 4);  // name outside every section
  damaged.push_back(badName);
  auto unterminated = TinyImage();
  std::memset(&unterminated[0x260], 'a', 0x400 - 0x260);  // name runs off the end
  damaged.push_back(unterminated);
  auto manySections = TinyImage();
  Put(manySections, 0x46, 0xFFFF, 2);
  damaged.push_back(manySections);
  for (size_t i = 0; i < damaged.size(); ++i) {
    pe::ModuleInfo info;
    EXPECT_FALSE(pe::ReadModuleInfo(damaged[i], info)) << i;
  }
}

}  // namespace
