// A full disk at every write position of an export, in one process. The controlling
// script (disk_full.py) lowers this process's file-size limit before each export and
// lifts it again after; SIGXFSZ is ignored, so a write past the limit fails like a write
// to a full disk. The two meet through empty files in a handshake directory:
//   ready            the reference export (no limit) is done; ref_size holds its size
//   want.<i>         run <i> may start          -> the script sets the limit, makes go.<i>
//   done.<i>         the export of run <i> ended -> the script lifts the limit, makes free.<i>
//   stop             no more runs
// Each run appends a line to results.txt: the limit, what the plug-in reported and the
// verdict. A file reported complete (open succeeded, every write took all its bytes) must
// equal the reference byte for byte, or be gone; anything else is a SILENT-CUT.
//
//   campaign_disk_full.exe aud|vqf|wma <handshake directory> <sample frames> <block bytes>
#include "campaign_support.h"

#include <cstdio>
#include <cstdlib>

using namespace campaign;

namespace {

std::string dir;

void Touch(const std::string& name) {
  HANDLE h = CreateFileA((dir + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

// Waits for `name` (or stop); false on stop or when the script has gone away.
bool AwaitFile(const std::string& name) {
  for (int waited = 0; waited < 120000; ++waited) {
    if (Exists(dir + name)) return true;
    if (Exists(dir + "stop")) return false;
    Sleep(1);
  }
  fprintf(stderr, "disk-full driver: no %s from the script\n", name.c_str());
  exit(4);
}

uint32_t Le32(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// An AUD file cut by a failed write must still tell the truth: whole chunks only, and the
// header's sizes counting exactly those (an open that failed leaves no file at all).
bool AudFileConsistent(const Bytes& file) {
  if (file.empty()) return true;
  if (file.size() < 12 || Le32(file, 2) != file.size() - 12) return false;
  size_t at = 12;
  uint32_t pcmBytes = 0;
  while (at < file.size()) {
    if (file.size() - at < 8 || Le32(file, at + 4) != 0xDEAFu) return false;
    const size_t codes = file[at] | file[at + 1] << 8;
    pcmBytes += file[at + 2] | file[at + 3] << 8;
    at += 8 + codes;
  }
  return at == file.size() && Le32(file, 6) == pcmBytes;
}

std::string Results(const ExportReport& r) {
  std::string s;
  for (long v : r.results) s += (s.empty() ? "" : ",") + std::to_string(v);
  return s.empty() ? "-" : s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: %s aud|vqf|wma DIR FRAMES BLOCK_BYTES\n", argv[0]);
    return 2;
  }
  const std::string plugin = argv[1];
  dir = std::string(argv[2]) + "\\";
  const ExportFormat format = FormatFor(plugin);
  const Bytes pcm = Signal(strtoul(argv[3], nullptr, 10), format.channels);
  const size_t block = strtoul(argv[4], nullptr, 10);
  LoadedPlugin& p = Plugin(plugin.c_str());
  if (!p.loaded()) {
    fprintf(stderr, "disk-full driver: cannot load the %s plug-in\n", plugin.c_str());
    return 3;
  }
  const std::string out = dir + "out." + plugin;

  const ExportReport first = Export(p, plugin, out, pcm, block);
  const Bytes reference = Load(out);
  if (!first.ReportedComplete() || reference.empty()) {
    fprintf(stderr, "disk-full driver: the export without a limit failed\n");
    return 3;
  }
  {
    std::ofstream(dir + "ref_size") << reference.size() << "\n";
  }
  Touch("ready");

  std::ofstream log(dir + "results.txt", std::ios::app);
  for (int i = 0;; ++i) {
    Touch("want." + std::to_string(i));
    if (!AwaitFile("go." + std::to_string(i))) break;
    DeleteFileA(out.c_str());
    const ExportReport r = Export(p, plugin, out, pcm, block);
    Touch("done." + std::to_string(i));
    if (!AwaitFile("free." + std::to_string(i))) break;
    const Bytes written = Load(out);
    // A plug-in that meets the full disk only where it cannot report it (a close) may
    // remove the file instead: no file is no file cut short.
    const char* verdict = !r.ReportedComplete() ? "reported"
                          : written == reference ? "complete"
                          : !Exists(out)         ? "removed"
                                                 : "SILENT-CUT";
    if (plugin == "aud" && !r.ReportedComplete() && !AudFileConsistent(written)) verdict = "INCONSISTENT";
    log << "run " << i << " opened " << r.opened << " writes " << Results(r) << " size " << written.size()
        << " verdict " << verdict << std::endl;
  }
  DeleteFileA(out.c_str());
  return 0;
}
