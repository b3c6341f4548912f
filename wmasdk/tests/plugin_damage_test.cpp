// The WMA plug-in over this library under wine, with damaged files: a real export cut
// short or overwritten anywhere. Each import ends (no crash, no hang), gives no more than
// the stream holds, a cut file gives the start of the whole decode, and the info object
// accepts exactly the files the reader opens.
#include "message_box_watcher.h"
#include "plugin_loader.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

std::string WorkFile(const char* name) {
  return ProgramDirectory() + "wmasdk-" + std::to_string(GetCurrentProcessId()) + "-" + name;
}

void Save(const std::string& path, const Bytes& b) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), b.size());
}

Bytes Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes{std::istreambuf_iterator<char>(in), {}};
}

struct ImportResult {
  bool opened = false;
  Bytes pcm;
};

ImportResult Import(LoadedPlugin& p, const std::string& path) {
  ImportResult r;
  long rate = 0, transfer = 0;
  WORD bits = 0, channels = 0;
  FilterHandle h = p.openInput(path.c_str(), &rate, &bits, &channels, 0, &transfer);
  if (!h) return r;
  r.opened = true;
  uint8_t buffer[16384];
  for (long got; (got = p.readInput(h, buffer, sizeof buffer)) > 0;)
    r.pcm.insert(r.pcm.end(), buffer, buffer + got);
  p.closeInput(h);
  return r;
}

// A damaged stream ends with the plug-in's message box (each takes wine about two seconds),
// so this samples a few points; wmasdk_codec_test cuts and overwrites natively at many.
TEST(WmaSdkDamage, ImportsOfDamagedFilesEndWithWhatDecoded) {
  MessageBoxWatcher boxes;
  LoadedPlugin p((ProgramDirectory() + "vell_wma.flt").c_str());
  ASSERT_TRUE(p.loaded());
  const std::string good = WorkFile("good.wma"), bad = WorkFile("bad.wma");

  // Two seconds of 44.1 kHz stereo at 64 kbps (row 28).
  long transfer = 0;
  FilterHandle out = p.openOutput(good.c_str(), 44100, 16, 2, 0, &transfer, 28);
  ASSERT_NE(out, nullptr);
  std::vector<int16_t> pcm(2 * 88200);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<int16_t>(12000 * std::sin(i / 2 * 0.142));
  ASSERT_EQ(p.writeOutput(out, pcm.data(), static_cast<long>(pcm.size() * 2)), static_cast<long>(pcm.size() * 2));
  p.closeOutput(out);

  const ImportResult whole = Import(p, good);
  ASSERT_TRUE(whole.opened);
  ASSERT_EQ(whole.pcm.size(), pcm.size() * 2);
  const Bytes bytes = Load(good);
  constexpr size_t kLastFrames = 2 * 2048 * 4;  // what the decoder's last frames may change

  for (size_t cut = 0; cut < bytes.size(); cut += bytes.size() / 6 + 1) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    Save(bad, Bytes(bytes.begin(), bytes.begin() + cut));
    const ImportResult r = Import(p, bad);
    EXPECT_EQ(p.understandsFormat(bad.c_str()), r.opened ? 1 : 0);
    if (!r.opened) continue;
    ASSERT_LT(r.pcm.size(), whole.pcm.size());
    const size_t settled = r.pcm.size() > kLastFrames ? r.pcm.size() - kLastFrames : 0;
    EXPECT_TRUE(std::equal(r.pcm.begin(), r.pcm.begin() + settled, whole.pcm.begin()));
  }
  for (size_t at = 0; at < bytes.size(); at += bytes.size() / 5 + 1) {
    SCOPED_TRACE("overwritten at " + std::to_string(at));
    Bytes b = bytes;
    for (size_t i = at; i < at + 100 && i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 151);
    Save(bad, b);
    const ImportResult r = Import(p, bad);
    EXPECT_EQ(p.understandsFormat(bad.c_str()), r.opened ? 1 : 0);
    EXPECT_LE(r.pcm.size(), whole.pcm.size());
  }
  // Every cut stream that opened ended with the plug-in's error message, not silently.
  for (const std::string& text : boxes.Texts()) EXPECT_EQ(text, "Unknown error.");
  EXPECT_GE(boxes.Texts().size(), 5u);
  DeleteFileA(good.c_str());
  DeleteFileA(bad.c_str());
}

}  // namespace
