// Paths a host may hand over: missing, directories, locked files, read-only files, names of
// 259, 260 and 1000 characters and names with the bytes 0x80 to 0xFF. Every plug-in must
// answer with a null handle (or 0 from FilterUnderstandsFormat) or do the whole job; never
// crash, never leave a file cut short, never write to a file other than the one named.
#include "campaign_env.h"

#include <cstdio>

using namespace campaign;

namespace {

const char* const kExporters[] = {"aud", "vqf", "wma"};
const char* const kImporters[] = {"aud", "vqf", "wma"};

// A complete file of the plug-in's own format (imports start from it).
std::string MadeFile(const std::string& plugin) {
  const std::string path = WorkFile("source." + plugin);
  if (!Exists(path)) {
    LoadedPlugin& p = Plugin(plugin.c_str());
    EXPECT_TRUE(Export(p, plugin, path, Signal(4000, FormatFor(plugin).channels), 4096).ReportedComplete());
  }
  return path;
}

// Exports to `path` and checks the outcome is all or nothing. Returns whether it opened.
bool ExportAllOrNothing(const std::string& plugin, const std::string& path) {
  LoadedPlugin& p = Plugin(plugin.c_str());
  const Bytes pcm = Signal(3000, FormatFor(plugin).channels);
  const ExportReport r = Export(p, plugin, path, pcm, 4096);
  EXPECT_FALSE(EncoderLibraryLoaded()) << plugin << ": the encoder library stays loaded";
  if (!r.opened) return false;
  EXPECT_TRUE(r.ReportedComplete()) << plugin << " " << path.size();
  // The very same export to a plain name must give the same bytes.
  const std::string plain = WorkFile("plain." + plugin);
  EXPECT_TRUE(Export(p, plugin, plain, pcm, 4096).ReportedComplete());
  EXPECT_EQ(Load(path), Load(plain)) << plugin << ": the file under the odd name differs";
  return true;
}

// A path of exactly `length` characters inside the work directory; directories of 200
// characters make up the part beyond one component (created with the long-path prefix).
std::string PathOfLength(size_t length, const std::string& extension) {
  std::string dir = WorkDirectory();
  while (length > dir.size() + 200 + 1 + 20) {
    dir += std::string(200, 'd') + "\\";
    const std::wstring wide = L"\\\\?\\" + std::wstring(dir.begin(), dir.end());
    CreateDirectoryW(wide.c_str(), nullptr);
  }
  const size_t stem = length - dir.size() - extension.size() - 1;
  return dir + std::string(stem, 'n') + "." + extension;
}

struct LockedFile {
  HANDLE handle;
  explicit LockedFile(const std::string& path) {
    handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
  }
  ~LockedFile() { CloseHandle(handle); }
};

}  // namespace

TEST(Paths, ExportToMissingDirectoryOrDirectoryOrLockedOrReadOnlyFileGivesNull) {
  for (const char* plugin : kExporters) {
    SCOPED_TRACE(plugin);
    const std::string dir = WorkFile(std::string("a_directory_") + plugin);
    CreateDirectoryA(dir.c_str(), nullptr);
    EXPECT_FALSE(ExportAllOrNothing(plugin, dir));
    EXPECT_FALSE(ExportAllOrNothing(plugin, WorkFile("no_such_dir\\x.") + plugin));
    EXPECT_FALSE(ExportAllOrNothing(plugin, WorkFile("source.aud\\x.") + plugin));

    const std::string locked = WorkFile(std::string("locked.") + plugin);
    {
      LockedFile lock(locked);
      ASSERT_NE(lock.handle, INVALID_HANDLE_VALUE);
      DWORD put = 0;
      WriteFile(lock.handle, "keep", 4, &put, nullptr);
      EXPECT_FALSE(ExportAllOrNothing(plugin, locked));
    }
    EXPECT_EQ(Load(locked), (Bytes{'k', 'e', 'e', 'p'})) << "a locked file was changed";

    const std::string readOnly = WorkFile(std::string("read_only.") + plugin);
    std::ofstream(readOnly) << "keep";
    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
    // Wine keeps the read-only attribute in the file's permissions, which the superuser
    // may write through: then there is nothing to test here.
    HANDLE probe = CreateFileA(readOnly.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
      EXPECT_FALSE(ExportAllOrNothing(plugin, readOnly));
      EXPECT_EQ(Load(readOnly), (Bytes{'k', 'e', 'e', 'p'})) << "a read-only file was changed";
    } else {
      CloseHandle(probe);
      printf("[ outcome  ] read-only files are writable here (superuser); case skipped\n");
    }
    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
  }
}

TEST(Paths, ImportOfMissingDirectoryLockedOrForeignFilesGivesNull) {
  const Bytes wav = {'R', 'I', 'F', 'F', 36, 0, 0, 0, 'W', 'A', 'V', 'E'};
  const std::string empty = WorkFile("empty.bin"), shortFile = WorkFile("short.bin"),
                    foreign = WorkFile("foreign.wav");
  std::ofstream(empty, std::ios::binary).flush();
  std::ofstream(shortFile, std::ios::binary) << std::string(11, '\x02');
  std::ofstream(foreign, std::ios::binary).write(reinterpret_cast<const char*>(wav.data()), wav.size());
  for (const char* plugin : kImporters) {
    SCOPED_TRACE(plugin);
    LoadedPlugin& p = Plugin(plugin);
    const std::string source = MadeFile(plugin);
    Bytes pcm;
    for (const std::string& path : {WorkFile("missing.x"), WorkDirectory(), WorkFile("nodir\\x"), empty,
                                    shortFile, foreign, source + "\\x"}) {
      EXPECT_EQ(p.understandsFormat(path.c_str()), 0) << path;
      EXPECT_FALSE(Import(p, path, 16384, pcm)) << path;
    }
    EXPECT_EQ(p.understandsFormat(nullptr), 0);
    {
      LockedFile lock(source);  // another program holds it without sharing
      EXPECT_EQ(p.understandsFormat(source.c_str()), 0);
      EXPECT_FALSE(Import(p, source, 16384, pcm));
    }
    EXPECT_TRUE(Import(p, source, 16384, pcm));
  }
}

// 259 characters is the longest name the 8-bit file functions take; 260 and 1000 are
// refused or, where the plug-in manages them, written whole.
TEST(Paths, NamesOf259To1000CharactersAreWrittenWholeOrRefused) {
  for (size_t length : {259u, 260u, 1000u}) {
    for (const char* plugin : kExporters) {
      const std::string path = PathOfLength(length, plugin);
      ASSERT_EQ(path.size(), length);
      const bool opened = ExportAllOrNothing(plugin, path);
      printf("[ outcome  ] export %s, name of %zu characters: %s\n", plugin, length, opened ? "written" : "null handle");
      if (length == 259) EXPECT_TRUE(opened) << plugin;
      if (std::string(plugin) == "wma" && length >= 260) EXPECT_FALSE(opened) << "the SDK's path buffer has 260 units";
      if (!opened) continue;
      LoadedPlugin& p = Plugin(plugin);
      if (!p.openInput) continue;
      Bytes pcm;
      EXPECT_TRUE(Import(p, path, 30720, pcm)) << plugin << " " << length;
      // VQF gives whole codec frames back: the signal and the rest of its last frame.
      const size_t sent = Signal(3000, FormatFor(plugin).channels).size();
      if (std::string(plugin) == "vqf") {
        EXPECT_GE(pcm.size(), sent) << length;
      } else {
        EXPECT_EQ(pcm.size(), sent) << plugin << " " << length;
      }
    }
  }
}

TEST(Paths, NamesWithBytesAbove127AreWrittenUnderThatNameOrRefused) {
  std::string high;
  for (int b = 0x80; b <= 0xFF; ++b) high += static_cast<char>(b);
  for (const std::string& stem : {std::string("caf\xE9 \xC4\xD6\xDC\xDF"), high.substr(0, 64), high.substr(64)}) {
    for (const char* plugin : kExporters) {
      const std::string path = WorkFile("hi_" + stem + "." + plugin);
      const bool opened = ExportAllOrNothing(plugin, path);
      printf("[ outcome  ] export %s, name with bytes 0x%02X..0x%02X: %s\n", plugin,
             static_cast<uint8_t>(stem[0]), static_cast<uint8_t>(stem.back()), opened ? "written" : "null handle");
      if (!opened) continue;
      // The 8-bit name finds the file again, and so does the import.
      EXPECT_TRUE(Exists(path)) << plugin;
      LoadedPlugin& p = Plugin(plugin);
      if (p.openInput) {
        Bytes pcm;
        EXPECT_EQ(p.understandsFormat(path.c_str()), 1) << plugin;
        EXPECT_TRUE(Import(p, path, 16384, pcm)) << plugin;
      }
      DeleteFileA(path.c_str());
    }
  }
}

namespace {

uint32_t Be32(const Bytes& b, size_t at) {
  return static_cast<uint32_t>(b[at]) << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3];
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// Walks the header's chunk records; returns the ids in order, or fails the test.
std::vector<std::string> HeaderIds(const Bytes& file) {
  std::vector<std::string> ids;
  EXPECT_GE(file.size(), 20u);
  if (file.size() < 20) return ids;
  EXPECT_EQ(std::string(file.begin(), file.begin() + 12), "TWIN97012000");
  const size_t end = 16 + Be32(file, 12);
  EXPECT_LE(end + 4, file.size());
  size_t at = 16;
  while (at + 8 <= end) {
    ids.emplace_back(file.begin() + at, file.begin() + at + 4);
    at += 8 + Be32(file, at + 4);
  }
  EXPECT_EQ(at, end) << "the records do not fill the root exactly";
  if (end + 4 <= file.size()) EXPECT_EQ(std::string(file.begin() + end, file.begin() + end + 4), "DATA");
  return ids;
}

}  // namespace

// The "header_info" directory of the current directory, in odd shapes: every file of both
// tables, entries that are directories, a large raw file, bytes of every value, numbers
// that do not parse; the directory itself a plain file. The export goes on and its header
// is well formed.
TEST(Paths, VqfHeaderInfoOfAnyShape) {
  char previous[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, previous);
  const std::string dir = WorkFile("header_cwd");
  CreateDirectoryA(dir.c_str(), nullptr);
  SetCurrentDirectoryA(dir.c_str());
  CreateDirectoryA("header_info", nullptr);
  CreateDirectoryA("header_info\\SCND", nullptr);
  Bytes everyByte;
  for (int i = 0; i < 256; ++i) everyByte.push_back(static_cast<uint8_t>(i));
  for (const char* id : {"GUID", "ISRC", "ALBM", "LYRC", "WORD", "MUSC", "ARNG", "PROD", "REMX", "CDCT",
                         "SING", "LABL", "NOTE", "PRSN", "BAND"})
    WriteBytes(std::string("header_info\\") + id, everyByte);
  WriteBytes("header_info\\YEAR", Bytes{'9', '9', '9', '9', '9', '9', '9', '9', '9', '9', '9', ' ', 'x'});
  WriteBytes("header_info\\ENCD", Bytes{'-', '1', '\n', '\0', '5'});
  CreateDirectoryA("header_info\\TRAC", nullptr);  // a directory where a file is looked for
  WriteBytes("header_info\\NOTE", Bytes(1 << 20, 'n'));
  for (const char* id : {"NAME", "AUTH", "COMT", "(c) ", "ALBM"}) WriteBytes(std::string("header_info\\SCND\\") + id, {});
  CreateDirectoryA("header_info\\SCND\\LYRC", nullptr);

  LoadedPlugin& p = Plugin("vqf");
  const Bytes pcm = Signal(3000, 1);
  ASSERT_TRUE(Export(p, "vqf", "odd_header.vqf", pcm, 4096).ReportedComplete());
  const Bytes file = Load("odd_header.vqf");
  const std::vector<std::string> ids = HeaderIds(file);
  ASSERT_FALSE(ids.empty());
  EXPECT_EQ(ids.front(), "COMM");
  EXPECT_EQ(ids.back(), "SCND");
  EXPECT_GE(file.size(), size_t{1} << 20) << "the large raw file is in the header";

  // The directory a plain file: the header has COMM only.
  SetCurrentDirectoryA(dir.c_str());
  const std::string fileDir = WorkFile("header_cwd2");
  CreateDirectoryA(fileDir.c_str(), nullptr);
  SetCurrentDirectoryA(fileDir.c_str());
  WriteBytes("header_info", everyByte);
  ASSERT_TRUE(Export(p, "vqf", "plain_header.vqf", pcm, 4096).ReportedComplete());
  EXPECT_EQ(HeaderIds(Load("plain_header.vqf")), std::vector<std::string>{"COMM"});
  SetCurrentDirectoryA(previous);
}
