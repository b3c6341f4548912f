// The VQF header: the "header_info" readers and the header builder over any directory
// contents and any HeaderInfo, then WriteHeader into a real bit file. The file must hold
// exactly the root chunk record and "DATA", byte for byte as an independent serialiser
// says: "COMM", the non-empty texts, "DSIZ", every file of the main table that opens (in
// table order, numbers read as fscanf reads them), and "SCND" with its files.
//
// Input: records of [op][length][bytes]; see ApplyRecord.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bit_file.h"
#include "header_builder.h"

namespace fs = std::filesystem;

namespace {

constexpr int kMainFiles = 18;
constexpr int kSecondFiles = 17;

enum class Entry { Absent, File, Directory };

struct Scene {
  HeaderInfo info = {};
  bool directoryMissing = false;
  bool directoryIsFile = false;
  bool secondIsFile = false;
  Entry mainKind[kMainFiles] = {};
  std::string mainData[kMainFiles];
  Entry secondKind[kSecondFiles] = {};
  std::string secondData[kSecondFiles];
};

fs::path workDir;

void Check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "VQF header: %s\n", what);
    abort();
  }
}

char* TextField(HeaderInfo& info, int which) {
  char* fields[] = {info.name, info.comment, info.author, info.rights, info.file};
  return fields[which % 5];
}

// op 0-17: append to a main-table file; 18-34: append to a SCND file; 35/36: make a main /
// SCND entry a directory; 37: SCND is a plain file; 38: version id bytes (up to 20, no
// terminator when 20); 39-43: a text field; 44: fill a text field to its last byte; 45: the
// numeric fields; 46: no directory at all; 47: the directory is a plain file.
void ApplyRecord(Scene& s, uint8_t op, const uint8_t* bytes, size_t n) {
  const std::string text(reinterpret_cast<const char*>(bytes), n);
  op %= 48;
  if (op < kMainFiles) {
    if (s.mainKind[op] != Entry::Directory) s.mainKind[op] = Entry::File, s.mainData[op] += text;
  } else if (op < kMainFiles + kSecondFiles) {
    const int i = op - kMainFiles;
    if (s.secondKind[i] != Entry::Directory) s.secondKind[i] = Entry::File, s.secondData[i] += text;
  } else if (op == 35 && n) {
    s.mainKind[bytes[0] % kMainFiles] = Entry::Directory;
  } else if (op == 36 && n) {
    s.secondKind[bytes[0] % kSecondFiles] = Entry::Directory;
  } else if (op == 37) {
    s.secondIsFile = true;
  } else if (op == 38) {
    std::memset(s.info.versionId, 0, sizeof s.info.versionId);
    std::memcpy(s.info.versionId, bytes, n < 20 ? n : 20);
  } else if (op >= 39 && op <= 43) {
    char* field = TextField(s.info, op - 39);
    std::memset(field, 0, 512);
    std::memcpy(field, bytes, n < 512 ? n : 512);
  } else if (op == 44 && n) {
    std::memset(TextField(s.info, bytes[0]), n > 1 ? (bytes[1] | 1) : 'x', 512);
  } else if (op == 45) {
    int32_t v[5] = {};
    std::memcpy(v, bytes, n < sizeof v ? n : sizeof v);
    s.info.channelMode = v[0];
    s.info.bitRate = v[1];
    s.info.samplingRate = v[2];
    s.info.securityLevel = v[3];
    s.info.dataSize = v[4];
  } else if (op == 46) {
    s.directoryMissing = true;
  } else if (op == 47) {
    s.directoryIsFile = true;
  }
}

void WriteFile(const fs::path& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

void BuildDirectory(const Scene& s, const fs::path& dir) {
  fs::remove_all(dir);
  if (s.directoryMissing) return;
  if (s.directoryIsFile) return WriteFile(dir, "not a directory");
  fs::create_directory(dir);
  for (int i = 0; i < kMainFiles; ++i) {
    const fs::path p = dir / MainHeaderFiles[i].id;
    if (s.mainKind[i] == Entry::File) WriteFile(p, s.mainData[i]);
    if (s.mainKind[i] == Entry::Directory) fs::create_directory(p);
  }
  if (s.secondIsFile) return WriteFile(dir / "SCND", "");
  bool any = false;
  for (int i = 0; i < kSecondFiles; ++i) any |= s.secondKind[i] != Entry::Absent;
  if (!any) return;
  fs::create_directory(dir / "SCND");
  for (int i = 0; i < kSecondFiles; ++i) {
    const fs::path p = dir / "SCND" / SecondHeaderFiles[i].id;
    if (s.secondKind[i] == Entry::File) WriteFile(p, s.secondData[i]);
    if (s.secondKind[i] == Entry::Directory) fs::create_directory(p);
  }
}

// --- The independent serialiser ---

void Be(std::string& out, uint32_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>(value >> (8 * i));
}

std::string Record(const std::string& id, const std::string& payload) {
  std::string r = id;
  Be(r, static_cast<uint32_t>(payload.size()), 4);
  return r + payload;
}

// The numbers fscanf would read from the file (a directory reads none).
std::vector<int> Numbers(Entry kind, const std::string& data, int count) {
  std::vector<int> v(6, 0);
  if (kind != Entry::File) return v;
  const std::string text(data.c_str());  // the scan stops at a zero byte either way
  sscanf(text.c_str(), "%d %d %d %d %d %d", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
  for (int i = count; i < 6; ++i) v[i] = 0;
  // sscanf goes on past the numbers a reader asks for; the first `count` are the same.
  return v;
}

std::string MainPayload(int i, Entry kind, const std::string& data) {
  std::string p;
  const std::string id = MainHeaderFiles[i].id;
  if (id == "TRAC") {
    Be(p, static_cast<uint32_t>(Numbers(kind, data, 1)[0]), 2);
  } else if (id == "YEAR") {
    const auto v = Numbers(kind, data, 2);
    Be(p, static_cast<uint32_t>(v[0]), 2);
    Be(p, static_cast<uint32_t>(v[1]), 1);
  } else if (id == "ENCD") {
    const auto v = Numbers(kind, data, 6);
    Be(p, static_cast<uint32_t>(v[0]), 2);
    for (int k = 1; k < 6; ++k) Be(p, static_cast<uint32_t>(v[k]), 1);
  } else if (kind == Entry::File) {
    p = data;
  }
  return p;
}

std::string ExpectedFile(const Scene& s) {
  const HeaderInfo& info = s.info;
  std::string payload;
  std::string comm;
  for (int32_t v : {info.channelMode, info.bitRate, info.samplingRate, info.securityLevel})
    Be(comm, static_cast<uint32_t>(v), 4);
  payload += Record("COMM", comm);
  const char* ids[] = {"NAME", "COMT", "AUTH", "(c) ", "FILE"};
  const char* texts[] = {info.name, info.comment, info.author, info.rights, info.file};
  for (int i = 0; i < 5; ++i) {
    const std::string text(texts[i], strnlen(texts[i], 512));
    if (!text.empty()) payload += Record(ids[i], text);
  }
  if (info.dataSize > 0) {
    std::string d;
    Be(d, static_cast<uint32_t>(info.dataSize), 4);
    payload += Record("DSIZ", d);
  }
  const bool haveDirectory = !s.directoryMissing && !s.directoryIsFile;
  if (haveDirectory) {
    for (int i = 0; i < kMainFiles; ++i)
      if (s.mainKind[i] != Entry::Absent)
        payload += Record(MainHeaderFiles[i].id, MainPayload(i, s.mainKind[i], s.mainData[i]));
    std::string second;
    bool any = false;
    for (int i = 0; i < kSecondFiles && !s.secondIsFile; ++i) {
      if (s.secondKind[i] == Entry::Absent) continue;
      any = true;
      second += Record(SecondHeaderFiles[i].id, s.secondKind[i] == Entry::File ? s.secondData[i] : "");
    }
    if (any) payload += Record("SCND", second);
  }
  return Record(std::string(info.versionId, strnlen(info.versionId, 20)), payload) + "DATA";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char base[] = "/dev/shm/vell-fuzz-header-XXXXXX";
  char tmp[] = "/tmp/vell-fuzz-header-XXXXXX";
  const char* made = mkdtemp(base);
  if (!made) made = mkdtemp(tmp);
  Check(made != nullptr, "no temporary directory");
  workDir = made;
  std::atexit([] { std::error_code e; fs::remove_all(workDir, e); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Scene scene;
  std::memcpy(scene.info.versionId, TVQ_VERSION_ID, sizeof TVQ_VERSION_ID);
  for (size_t pos = 0; pos + 2 <= size;) {
    const uint8_t op = data[pos];
    const size_t n = std::min<size_t>(data[pos + 1], size - pos - 2);
    ApplyRecord(scene, op, data + pos + 2, n);
    pos += 2 + n;
  }
  const fs::path dir = workDir / "header_info";
  BuildDirectory(scene, dir);

  std::unique_ptr<CChunk> root = BuildHeader(scene.info, dir.c_str());
  Check(root != nullptr, "no header built");
  const std::string out = (workDir / "header.vqf").string();
  BitFile* file = OpenBitFile(out.c_str(), "wb");
  Check(file != nullptr, "bit file not opened (a slot leaked?)");
  WriteHeader(file, *root);
  Check(CloseBitFile(file), "bit file reported a failed write");

  std::ifstream in(out, std::ios::binary);
  const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Check(written == ExpectedFile(scene), "header bytes differ from the independent serialiser");
  return 0;
}
