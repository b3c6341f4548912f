// `info` and `options`: what a plug-in says about itself, and its options dialog.
#include "commands.h"
#include "pe_imports.h"

#include <cstddef>
#include <cstdio>
#include <string>

namespace flthost {
namespace {

// A text field as the plug-in left it, cut at its terminator or at `room` bytes.
std::string FieldText(const char* field, size_t room) {
  if (!Written(field, room)) return "(not set)";
  size_t n = 0;
  while (n < room && field[n]) ++n;
  return std::string(field, n);
}

std::string FlagNames(uint32_t flags) {
  std::string names;
  const struct { uint32_t bit; const char* name; } kFlags[] = {
      {FILTER_CAN_WRITE, "FILTER_CAN_WRITE"},
      {FILTER_CAN_READ, "FILTER_CAN_READ"},
      {FILTER_HAS_OPTIONS, "FILTER_HAS_OPTIONS"},
  };
  for (const auto& f : kFlags) {
    if (flags & f.bit) names += std::string(" ") + f.name;
    flags &= ~f.bit;
  }
  if (flags) {
    char other[32];
    std::snprintf(other, sizeof other, " other:0x%X", flags);
    names += other;
  }
  return names;
}

}  // namespace

int RunInfo(const Arguments& args) {
  Plugin plugin;
  QueryRecord query;
  if (int code = LoadForCommand(args.filter, {}, plugin, query)) return code;
  const FilterQuery& q = query.fields;

  pe::ModuleInfo module;
  pe::ReadModuleInfo(pe::ReadWholeFile(plugin.path()), module);
  std::printf("file:          %s (%s)\n", plugin.path().c_str(), pe::MachineName(module.machine).c_str());
  std::printf("query result:  0x%04X%s\n", query.result,
              query.result == VELL_FILTER_QUERY_RESULT ? "" : " (expected 0x0482)");
  std::printf("name:          %s\n", FieldText(q.name, sizeof q.name).c_str());
  std::printf("description:   %s\n", FieldText(q.description, sizeof q.description).c_str());
  std::printf("extension:     %s\n", FieldText(q.extension, sizeof q.extension).c_str());
  // extension2 may run on into the room the host leaves after the record.
  const char* record = reinterpret_cast<const char*>(&query);
  std::printf("extension2:    %s\n",
              FieldText(record + offsetof(FilterQuery, extension2), offsetof(QueryRecord, result) -
                                                                         offsetof(FilterQuery, extension2))
                  .c_str());
  if (Written(&q.flags, sizeof q.flags))
    std::printf("flags:         0x%03X%s\n", q.flags, FlagNames(q.flags).c_str());
  else
    std::printf("flags:         (not set)\n");
  if (Written(&q.blockSize, sizeof q.blockSize))
    std::printf("block size:    %u\n", q.blockSize);
  else
    std::printf("block size:    (not set)\n");
  std::printf("capability words:");
  for (uint16_t word : q.capabilityWords) {
    if (Written(&word, sizeof word))
      std::printf(" %u", word);
    else
      std::printf(" -");
  }
  std::printf("\n");
  if (plugin.entry().suggestSampleType) {
    long rate = 0;
    WORD bits = 0, channels = 0;
    plugin.entry().suggestSampleType(&rate, &bits, &channels);
    if (rate == 0 && bits == 0 && channels == 0)
      std::printf("suggested:     (not set)\n");
    else
      std::printf("suggested:     %s\n", DescribeSampleType(rate, bits, channels).c_str());
  }
  std::printf("imports:      ");
  for (const std::string& dll : module.importedDlls) std::printf(" %s", dll.c_str());
  std::printf("\nexports:\n");
  for (const auto& [name, exported] : plugin.ExportTable())
    std::printf("  %-26s %s\n", name, exported ? "yes" : "no");
  return kExitOk;
}

int RunOptions(const Arguments& args) {
  Plugin plugin;
  QueryRecord query;
  if (int code = LoadForCommand(args.filter, {"FilterGetOptions"}, plugin, query)) return code;
  // The plug-in loads its dialog from its own module; the console has no window to own it.
  const DWORD word = plugin.entry().getOptions(nullptr, plugin.module(), 0, 0, 0, args.options);
  std::printf("options: %lu\n", static_cast<unsigned long>(word));
  return kExitOk;
}

}  // namespace flthost
