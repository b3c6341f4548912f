// Building the header tree from HeaderInfo and the "header_info" directory, and writing it.
#include "header_builder.h"

#include <cstring>
#include <new>
#include <string>

const HeaderFileEntry MainHeaderFiles[] = {
    {"TRAC", ReadInt16Chunk}, {"YEAR", ReadYearChunk}, {"ENCD", ReadEncdChunk},
    {"GUID", ReadRawChunk},   {"ISRC", ReadRawChunk},  {"ALBM", ReadRawChunk},
    {"LYRC", ReadRawChunk},   {"WORD", ReadRawChunk},  {"MUSC", ReadRawChunk},
    {"ARNG", ReadRawChunk},   {"PROD", ReadRawChunk},  {"REMX", ReadRawChunk},
    {"CDCT", ReadRawChunk},   {"SING", ReadRawChunk},  {"LABL", ReadRawChunk},
    {"NOTE", ReadRawChunk},   {"PRSN", ReadRawChunk},  {"BAND", ReadRawChunk},
    {nullptr, nullptr}};

const HeaderFileEntry SecondHeaderFiles[] = {
    {"NAME", ReadRawChunk}, {"AUTH", ReadRawChunk}, {"COMT", ReadRawChunk},
    {"(c) ", ReadRawChunk}, {"ALBM", ReadRawChunk}, {"LYRC", ReadRawChunk},
    {"WORD", ReadRawChunk}, {"MUSC", ReadRawChunk}, {"ARNG", ReadRawChunk},
    {"PROD", ReadRawChunk}, {"REMX", ReadRawChunk}, {"CDCT", ReadRawChunk},
    {"SING", ReadRawChunk}, {"LABL", ReadRawChunk}, {"NOTE", ReadRawChunk},
    {"PRSN", ReadRawChunk}, {"BAND", ReadRawChunk}, {nullptr, nullptr}};

namespace {

const char* const kDirectoryPrefixes[] = {"/", "/SCND/"};

// A text field of HeaderInfo, up to its NUL or the end of the field, whichever comes first:
// the library fills these arrays and a missing terminator must not run past them.
template <size_t N>
std::string FieldText(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

}  // namespace

std::unique_ptr<CChunk> BuildHeader(const HeaderInfo& info, const char* directory) {
  try {
    std::unique_ptr<CChunk> root(new CContainerChunk(FieldText(info.versionId)));
    if (AddMainChunks(info, *root) != 0) return nullptr;
    if (ReadHeaderDirectory(MainHeaderFiles, *root, 0, directory) != 0) return nullptr;
    CContainerChunk second("SCND");
    if (ReadHeaderDirectory(SecondHeaderFiles, second, 1, directory) != 0) return nullptr;
    if (!second.Payload().empty()) root->AppendChunk(second);
    return root;
  } catch (...) {
    // Out of memory (or a chunk that cannot be formed): the open fails instead of letting
    // the exception reach the host.
    return nullptr;
  }
}

int AddMainChunks(const HeaderInfo& info, CChunk& root) {
  root.AppendChunk(CCommChunk(info.channelMode, info.bitRate, info.samplingRate,
                              info.securityLevel, TVQ_VERSION_ID));
  AddTextChunk("NAME", FieldText(info.name).c_str(), root);
  AddTextChunk("COMT", FieldText(info.comment).c_str(), root);
  AddTextChunk("AUTH", FieldText(info.author).c_str(), root);
  AddTextChunk("(c) ", FieldText(info.rights).c_str(), root);
  AddTextChunk("FILE", FieldText(info.file).c_str(), root);
  if (info.dataSize > 0) root.AppendChunk(CIntegerChunk<int32_t>("DSIZ", info.dataSize));
  return 0;
}

void AddTextChunk(const char* id, const char* text, CChunk& target) {
  if (text[0] == '\0') return;
  target.AppendChunk(CStringChunk(id, text));
}

int ReadHeaderDirectory(const HeaderFileEntry* table, CChunk& target, int32_t index,
                        const char* directory) {
  if (index < 0 || index >= 2) return 1;
  for (const HeaderFileEntry* entry = table; entry->id; ++entry) {
    const std::string path = std::string(directory) + kDirectoryPrefixes[index] + entry->id;
    // Closed however the reader ends, also when it throws (out of memory).
    std::unique_ptr<FILE, int (*)(FILE*)> stream(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!stream) continue;  // a missing file is not an error
    entry->reader(stream.get(), entry->id, target);
  }
  return 0;
}

int ReadInt16Chunk(FILE* stream, const char* id, CChunk& target) {
  int value = 0;
  (void)std::fscanf(stream, "%d", &value);
  target.AppendChunk(CIntegerChunk<int16_t>(id, static_cast<int16_t>(value)));
  return 0;
}

int ReadYearChunk(FILE* stream, const char* id, CChunk& target) {
  int year = 0, extra = 0;
  (void)std::fscanf(stream, "%d %d", &year, &extra);
  target.AppendChunk(CYearChunk(id, static_cast<int16_t>(year), static_cast<int8_t>(extra)));
  return 0;
}

int ReadEncdChunk(FILE* stream, const char* id, CChunk& target) {
  int v[6] = {0, 0, 0, 0, 0, 0};
  (void)std::fscanf(stream, "%d %d %d %d %d %d", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
  target.AppendChunk(CEncdChunk(id, static_cast<int16_t>(v[0]), static_cast<int8_t>(v[1]),
                                static_cast<int8_t>(v[2]), static_cast<int8_t>(v[3]),
                                static_cast<int8_t>(v[4]), static_cast<int8_t>(v[5])));
  return 0;
}

int ReadRawChunk(FILE* stream, const char* id, CChunk& target) {
  CChunk chunk(id);
  uint8_t byte = 0;
  while (std::fread(&byte, 1, 1, stream) == 1) chunk.AppendBytes(1, &byte);
  target.AppendChunk(chunk);
  return 0;
}

void WriteHeader(BitFile* file, const CChunk& root) {
  WriteChunk(root, file);
  WriteBytes(reinterpret_cast<const uint8_t*>("DATA"), 4, file);
}

int WriteChunk(const CChunk& chunk, BitFile* file) {
  WriteText(chunk.Id(), file);
  PutBits(static_cast<int32_t>(chunk.Payload().size()), 32, file);
  WriteBytes(chunk.Payload().data(), static_cast<int>(chunk.Payload().size()), file);
  return 0;
}

void WriteText(const std::string& text, BitFile* file) {
  WriteBytes(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()), file);
}

void WriteBytes(const uint8_t* bytes, int count, BitFile* file) {
  for (int i = 0; i < count; ++i) PutBits(bytes[i], 8, file);
}
