// The VQF header: a root chunk named by the version id that holds "COMM", the header
// texts, "DSIZ" and the chunks read from an optional "header_info" directory (plus its
// "SCND" subdirectory), written to a fresh BitFile followed by the marker "DATA".
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "bit_file.h"
#include "chunk.h"
#include "tvqenc_api.h"

// Reads an open file and appends one chunk with the given id to target. Returns 0.
typedef int (*HeaderFileReader)(FILE* stream, const char* id, CChunk& target);

// A file to look for (its name is the chunk id) and its reader; tables end with a null id.
struct HeaderFileEntry {
  const char* id;
  HeaderFileReader reader;
};

extern const HeaderFileEntry MainHeaderFiles[];    // read from <directory>/ into the root
extern const HeaderFileEntry SecondHeaderFiles[];  // read from <directory>/SCND/ into "SCND"

// Builds the whole header tree; null when it cannot be built.
std::unique_ptr<CChunk> BuildHeader(const HeaderInfo& info, const char* directory);

// "COMM", then "NAME", "COMT", "AUTH", "(c) ", "FILE" when not empty, then "DSIZ" when
// dataSize > 0. Returns 0.
int AddMainChunks(const HeaderInfo& info, CChunk& root);

// Appends a CStringChunk of text unless text is empty.
void AddTextChunk(const char* id, const char* text, CChunk& target);

// Reads every file of table that opens from directory + ("/" for index 0, "/SCND/" for
// index 1) + id into target. Returns 0, or 1 (reading nothing) for an index of 2 or more.
int ReadHeaderDirectory(const HeaderFileEntry* table, CChunk& target, int32_t index,
                        const char* directory);

int ReadInt16Chunk(FILE* stream, const char* id, CChunk& target);  // "%d" -> 2 bytes
int ReadYearChunk(FILE* stream, const char* id, CChunk& target);   // "%d %d" -> 2 + 1 bytes
int ReadEncdChunk(FILE* stream, const char* id, CChunk& target);   // six "%d" -> 2 + 5 bytes
int ReadRawChunk(FILE* stream, const char* id, CChunk& target);    // the file's bytes

// The root chunk's record, then "DATA".
void WriteHeader(BitFile* file, const CChunk& root);
// One chunk record, byte by byte through PutBits. Returns 0.
int WriteChunk(const CChunk& chunk, BitFile* file);
// The text's characters, no terminator.
void WriteText(const std::string& text, BitFile* file);
void WriteBytes(const uint8_t* bytes, int count, BitFile* file);
