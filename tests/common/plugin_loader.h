// Loads a plug-in the way the host does and binds whatever entry points it exports.
// Test programs use it to drive the real exports under wine.
#pragma once

#include "vell_filter.h"

#include <string>

struct LoadedPlugin {
  HMODULE module = nullptr;
  QueryVellFilterProc query = nullptr;
  GetSuggestedSampleTypeProc suggestSampleType = nullptr;
  FilterGetOptionsProc getOptions = nullptr;
  OpenFilterOutputProc openOutput = nullptr;
  WriteFilterOutputProc writeOutput = nullptr;
  CloseFilterOutputProc closeOutput = nullptr;
  FilterWriteSpecialDataProc writeSpecialData = nullptr;
  FilterUnderstandsFormatProc understandsFormat = nullptr;
  OpenFilterInputProc openInput = nullptr;
  ReadFilterInputProc readInput = nullptr;
  CloseFilterInputProc closeInput = nullptr;
  FilterGetFileSizeProc getFileSize = nullptr;
  FilterOptionsProc options = nullptr;
  FilterOptionsStringProc optionsString = nullptr;
  FilterGetSpecialDataProc getFirstSpecialData = nullptr;
  FilterGetSpecialDataProc getNextSpecialData = nullptr;

  explicit LoadedPlugin(const char* path) {
    module = LoadLibraryA(path);
    if (!module) return;
    bind(query, "QueryVellFilter");
    bind(suggestSampleType, "GetSuggestedSampleType");
    bind(getOptions, "FilterGetOptions");
    bind(openOutput, "OpenFilterOutput");
    bind(writeOutput, "WriteFilterOutput");
    bind(closeOutput, "CloseFilterOutput");
    bind(writeSpecialData, "FilterWriteSpecialData");
    bind(understandsFormat, "FilterUnderstandsFormat");
    bind(openInput, "OpenFilterInput");
    bind(readInput, "ReadFilterInput");
    bind(closeInput, "CloseFilterInput");
    bind(getFileSize, "FilterGetFileSize");
    bind(options, "FilterOptions");
    bind(optionsString, "FilterOptionsString");
    bind(getFirstSpecialData, "FilterGetFirstSpecialData");
    bind(getNextSpecialData, "FilterGetNextSpecialData");
  }
  ~LoadedPlugin() {
    if (module) FreeLibrary(module);
  }
  LoadedPlugin(const LoadedPlugin&) = delete;
  LoadedPlugin& operator=(const LoadedPlugin&) = delete;

  bool loaded() const { return module != nullptr; }

 private:
  template <typename Proc>
  void bind(Proc& proc, const char* name) {
    proc = reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  }
};

// The directory of the running program, with a trailing backslash: the plug-ins,
// stand-ins and test programs all lie in build/<preset>/bin.
inline std::string ProgramDirectory() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string dir(path, n);
  return dir.substr(0, dir.find_last_of("\\/") + 1);
}
