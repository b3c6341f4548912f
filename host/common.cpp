#include "commands.h"

#include <io.h>

#include <cstdio>
#include <cstring>

namespace flthost {

int Fail(int code, const std::string& message) {
  std::fprintf(stderr, "flthost: error: %s\n", message.c_str());
  return code;
}

void Warn(const std::string& message) { std::fprintf(stderr, "flthost: warning: %s\n", message.c_str()); }

int LoadForCommand(const std::string& path, std::initializer_list<const char*> needed, Plugin& plugin,
                   QueryRecord& query) {
  std::string error;
  if (!plugin.Load(path, error)) return Fail(kExitLoad, error);
  if (const char* missing = plugin.FirstMissing({"QueryVellFilter"}))
    return Fail(kExitEntryPoint, path + " does not export " + missing);
  if (const char* missing = plugin.FirstMissing(needed))
    return Fail(kExitEntryPoint, path + " does not export " + missing + ", which this command needs");
  std::memset(&query, kUnwritten, sizeof query);
  query.result = plugin.entry().query(&query.fields);
  return kExitOk;
}

bool Written(const void* field, size_t bytes) {
  const auto* p = static_cast<const uint8_t*>(field);
  for (size_t i = 0; i < bytes; ++i)
    if (p[i] != kUnwritten) return true;
  return false;
}

uint32_t ReportedBlockSize(const QueryRecord& query) {
  const FilterQuery& q = query.fields;
  return Written(&q.blockSize, sizeof q.blockSize) ? q.blockSize : 0;
}

bool ShowProgress(const Arguments& args) { return !args.quiet && _isatty(_fileno(stderr)); }

size_t BlockBytes(long transferSize, uint32_t blockSize, uint32_t frameBytes) {
  constexpr size_t kFallback = 65536, kMost = 64u << 20;
  size_t bytes = transferSize > 0 ? size_t(transferSize) : blockSize > 0 ? blockSize : kFallback;
  if (bytes > kMost) bytes = kMost;
  bytes -= bytes % frameBytes;
  return bytes > 0 ? bytes : frameBytes;
}

long long FileBytes(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string DescribeSampleType(long rate, unsigned bits, unsigned channels) {
  return std::to_string(rate) + " Hz, " + std::to_string(bits) + "-bit, " + std::to_string(channels) +
         (channels == 1 ? " channel" : " channels");
}

}  // namespace flthost
