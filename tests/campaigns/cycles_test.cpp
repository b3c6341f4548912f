// Open/close cycles of every plug-in: handles and heap must not grow. The quick tests run
// 200 cycles of each kind; the long ones (campaigns.sh) 1000.
#include "campaign_env.h"

#include <cstdio>

using namespace campaign;

namespace {

// Heap growth of loading and freeing a module `count` times, with no plug-in involved.
size_t LoadFreeGrowth(const std::string& name, int count) {
  const std::string path = ProgramDirectory() + name;
  for (int i = 0; i < 5; ++i) FreeLibrary(LoadLibraryA(path.c_str()));
  const size_t before = CountResources().heapBytes;
  for (int i = 0; i < count; ++i) FreeLibrary(LoadLibraryA(path.c_str()));
  const size_t after = CountResources().heapBytes;
  return after > before ? after - before : 0;
}

// One cycle of each kind the plug-ins offer: a short export, then an import of it.
void Cycle(const std::string& plugin, const Bytes& pcm) {
  LoadedPlugin& p = Plugin(plugin.c_str());
  const std::string path = WorkFile("cycle." + plugin);
  ASSERT_TRUE(Export(p, plugin, path, pcm, 4096).ReportedComplete());
  if (!p.openInput) return;
  ASSERT_EQ(p.understandsFormat(path.c_str()), 1);
  Bytes back;
  ASSERT_TRUE(Import(p, path, 16384, back));
  if (plugin == "vqf") {
    // VQF keeps whole frames only: the import ends with the last frame's padding.
    ASSERT_GE(back.size(), pcm.size());
    ASSERT_LT(back.size() - pcm.size(), 2048u * 2 * FormatFor(plugin).channels);
  } else {
    ASSERT_EQ(back.size(), pcm.size());
  }
}

void RunCycles(const std::string& plugin, int cycles, bool holdLibrary = false) {
  SdkSwitches sdk;
  // Optionally one more VQF output stays open, so the encoder library is not unloaded
  // between cycles: growth that goes away then lies in loading and freeing the library.
  FilterHandle held = nullptr;
  if (holdLibrary) {
    long transfer = 0;
    held = Plugin("vqf").openOutput(WorkFile("held.vqf").c_str(), 11025, 16, 1, 0, &transfer, 1);
    ASSERT_NE(held, nullptr);
  }
  const Bytes pcm = Signal(3000, FormatFor(plugin).channels);
  for (int i = 0; i < 20; ++i) Cycle(plugin, pcm);  // warm-up: caches, first-use allocations
  Sleep(200);  // let the SDK's delivery threads of the warm-up end
  const ResourceCount before = CountResources();
  for (int i = 0; i < cycles; ++i) {
    Cycle(plugin, pcm);
    if (::testing::Test::HasFatalFailure()) return;
  }
  Sleep(200);
  const ResourceCount after = CountResources();
  if (held) Plugin("vqf").closeOutput(held);
  printf("[ figures  ] %s%s, %d cycles: handles %lu -> %lu, heap bytes %zu -> %zu\n",
         plugin.c_str(), held ? " (library held)" : "", cycles, static_cast<unsigned long>(before.handles),
         static_cast<unsigned long>(after.handles), before.heapBytes, after.heapBytes);
  EXPECT_LE(after.handles, before.handles) << plugin;
  EXPECT_LE(after.heapBytes, before.heapBytes + 16384) << plugin;
  EXPECT_FALSE(EncoderLibraryLoaded());
}

}  // namespace

TEST(Cycles, AudExportAndImport) { RunCycles("aud", 200); }
TEST(Cycles, VqfExport) { RunCycles("vqf", 200); }
TEST(Cycles, VqfExportWithTheLibraryHeld) { RunCycles("vqf", 200, true); }
TEST(Cycles, WmaExportAndImport) { RunCycles("wma", 200); }
// Each plain VQF cycle loads and frees the encoder library; the library gives back what its
// runtime took on loading (it once kept 73 KB per load).
TEST(Cycles, EncoderLibraryLoadAndFreeKeepsNothing) { EXPECT_LE(LoadFreeGrowth("TVQENC.DLL", 100), 4096u); }
TEST(CyclesLong, AudExportAndImport1000) { RunCycles("aud", 1000); }
TEST(CyclesLong, VqfExport1000) { RunCycles("vqf", 1000); }
TEST(CyclesLong, WmaExportAndImport1000) { RunCycles("wma", 1000); }


// Figures only: what loading and freeing each module costs by itself under this loader.
// Meaningful when run on its own (nothing else holding the modules).
TEST(Cycles, LoadAndFreeFigures) {
  for (const char* name : {"TVQENC.DLL", "wmaudsdk.dll", "vell_aud.flt", "vell_vqf.flt", "vell_wma.flt"})
    printf("[ figures  ] %s loaded and freed 100 times: heap grows %zu bytes\n", name, LoadFreeGrowth(name, 100));
}
