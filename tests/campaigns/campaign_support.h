// Shared pieces of the fault-campaign programs: the three plug-ins loaded as the host loads
// them, a deterministic test signal, file helpers and a full export through the exports.
#pragma once

#include "plugin_loader.h"

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace campaign {

using Bytes = std::vector<uint8_t>;

// Loads bin/<name> once and keeps it for the whole program.
inline LoadedPlugin& Plugin(const char* name) {
  static LoadedPlugin aud((ProgramDirectory() + "vell_aud.flt").c_str());
  static LoadedPlugin vqf((ProgramDirectory() + "vell_vqf.flt").c_str());
  static LoadedPlugin wma((ProgramDirectory() + "vell_wma.flt").c_str());
  const std::string n(name);
  return n == "aud" ? aud : n == "vqf" ? vqf : wma;
}

// The sample type each plug-in takes for the campaigns, and its options word.
struct ExportFormat {
  long sampleRate;
  WORD bits;
  WORD channels;
  DWORD options;
};
inline ExportFormat FormatFor(const std::string& plugin) {
  if (plugin == "aud") return {22050, 16, 1, 0};
  if (plugin == "vqf") return {11025, 16, 1, 1};  // 11 kHz, 8 kbps per channel
  return {22050, 16, 2, 14};  // row 14: 22.05 kHz stereo, the PCM's own format
}

// A deterministic, non-trivial 16-bit signal: bytes of `frames` sample frames.
inline Bytes Signal(size_t frames, unsigned channels, uint32_t seed = 1) {
  Bytes pcm(frames * channels * 2);
  uint32_t x = seed * 2654435761u + 12345u;
  for (size_t i = 0; i < frames * channels; ++i) {
    x = x * 1103515245u + 12345u;
    const int32_t tone = static_cast<int32_t>((i % 200) * 300) - 30000;
    const int16_t s = static_cast<int16_t>(tone / 2 + static_cast<int32_t>((x >> 16) & 0x1FFF) - 4096);
    pcm[2 * i] = static_cast<uint8_t>(s);
    pcm[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8);
  }
  return pcm;
}

inline Bytes Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline std::string TempDirectory() {
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  return dir;
}

// What an export through the exports reported.
struct ExportReport {
  bool opened = false;
  bool allWritesWhole = false;  // every write took all of its bytes
  std::vector<long> results;    // each write's result
  bool ReportedComplete() const { return opened && allWritesWhole; }
};

// Opens, writes pcm in blocks of blockBytes, closes.
inline ExportReport Export(LoadedPlugin& p, const std::string& plugin, const std::string& path,
                           const Bytes& pcm, size_t blockBytes) {
  const ExportFormat f = FormatFor(plugin);
  long transfer = 0;
  ExportReport r;
  FilterHandle h = p.openOutput(path.c_str(), f.sampleRate, f.bits, f.channels,
                                static_cast<long>(pcm.size()), &transfer, f.options);
  if (!h) return r;
  r.opened = true;
  r.allWritesWhole = true;
  for (size_t at = 0; at < pcm.size(); at += blockBytes) {
    const long n = static_cast<long>(std::min(blockBytes, pcm.size() - at));
    const long got = p.writeOutput(h, pcm.data() + at, n);
    r.results.push_back(got);
    if (got != n) r.allWritesWhole = false;
  }
  p.closeOutput(h);
  return r;
}

// Reads an input through the exports in requests of `request` bytes until a short read.
// Returns false when the open fails.
inline bool Import(LoadedPlugin& p, const std::string& path, long request, Bytes& pcm) {
  long rate = 0, transfer = 0;
  WORD bits = 0, channels = 0;
  FilterHandle h = p.openInput(path.c_str(), &rate, &bits, &channels, 0, &transfer);
  if (!h) return false;
  pcm.clear();
  Bytes buffer(static_cast<size_t>(request));
  for (;;) {
    const long got = p.readInput(h, buffer.data(), request);
    if (got > 0) pcm.insert(pcm.end(), buffer.begin(), buffer.begin() + got);
    if (got < request) break;
  }
  p.closeInput(h);
  return true;
}

}  // namespace campaign
