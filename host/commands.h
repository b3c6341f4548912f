// The four flthost commands and the small helpers they share.
#pragma once

#include "cli.h"
#include "plugin.h"

#include <string>

namespace flthost {

int RunInfo(const Arguments& args);
int RunOptions(const Arguments& args);
int RunExport(const Arguments& args);
int RunImport(const Arguments& args);

// Prints "flthost: error: <message>" on stderr and returns `code`.
int Fail(int code, const std::string& message);
void Warn(const std::string& message);

// The host's query record: room beyond extension2, every byte preset to kUnwritten so
// that `info` can show which fields the plug-in wrote.
constexpr uint8_t kUnwritten = 0xA5;
struct QueryRecord {
  FilterQuery fields;
  char spare[256];
  WORD result;
};
// True when the plug-in changed any of the `bytes` bytes at `field`.
bool Written(const void* field, size_t bytes);
// The block size the plug-in reported, or 0 when it left the field alone.
uint32_t ReportedBlockSize(const QueryRecord& query);

// Loads the plug-in, calls QueryVellFilter once (the first call after loading, as in any
// host) and checks that it exports `needed`. Returns 0, or the exit code after reporting.
int LoadForCommand(const std::string& path, std::initializer_list<const char*> needed, Plugin& plugin,
                   QueryRecord& query);

// Whether the progress bar may be drawn: stderr is a terminal and --quiet was not given.
bool ShowProgress(const Arguments& args);

// Bytes per read or write call: the transfer size the plug-in stored when it opened the
// file, else its block size, cut to whole sample frames.
size_t BlockBytes(long transferSize, uint32_t blockSize, uint32_t frameBytes);

// Size of a file in bytes, or -1.
long long FileBytes(const std::string& path);

// A sample type as "22050 Hz, 16-bit, 1 channel".
std::string DescribeSampleType(long rate, unsigned bits, unsigned channels);

}  // namespace flthost
