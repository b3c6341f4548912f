#include "plugin.h"

#include "pe_imports.h"

namespace flthost {
namespace {

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string WindowsMessage(DWORD error) {
  char text[512] = {};
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                           text, sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == ' ' || text[n - 1] == '.'))
    text[--n] = '\0';
  return "Windows error " + std::to_string(error) + (n ? ": " + std::string(text) : std::string());
}

// Follows the import tables from `modulePath` down to the first DLL that cannot be found
// where Windows looks for it (the host's directory, the system directories, PATH). Names
// the module that imports it when that is not the plug-in itself (depth > 0).
std::string FindMissingDependency(const std::string& modulePath, int depth) {
  pe::ModuleInfo info;
  if (!pe::ReadModuleInfo(pe::ReadWholeFile(modulePath), info)) return "";
  std::vector<std::string> found;
  for (const std::string& dll : info.importedDlls) {
    char path[MAX_PATH];
    if (!SearchPathA(nullptr, dll.c_str(), nullptr, MAX_PATH, path, nullptr))
      return depth == 0 ? dll : dll + " (imported by " + BaseName(modulePath) + ")";
    found.push_back(path);
  }
  if (depth >= 4) return "";
  for (const std::string& path : found) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (module) {
      FreeLibrary(module);
      continue;
    }
    if (GetLastError() == ERROR_MOD_NOT_FOUND) {
      std::string missing = FindMissingDependency(path, depth + 1);
      if (!missing.empty()) return missing;
    }
  }
  return "";
}

std::string ExplainLoadFailure(const std::string& path, DWORD error) {
  const std::string name = BaseName(path);
  if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return name + " not found";
  pe::ModuleInfo info;
  if (!pe::ReadModuleInfo(pe::ReadWholeFile(path), info)) return name + " is not a Windows module";
  const uint16_t ours = sizeof(void*) == 8 ? pe::kMachineAmd64 : pe::kMachineI386;
  if (info.machine != ours)
    return name + " is a " + pe::MachineName(info.machine) + " module; this flthost is " + pe::MachineName(ours) +
           " and loads only " + pe::MachineName(ours) + " plug-ins";
  if (error == ERROR_MOD_NOT_FOUND) {
    const std::string missing = FindMissingDependency(path, 0);
    if (!missing.empty()) return name + " needs " + missing + ", which was not found";
  }
  return name + " will not load: " + WindowsMessage(error);
}

constexpr const char* kEntryNames[] = {
    "QueryVellFilter",   "GetSuggestedSampleType", "FilterGetOptions",          "OpenFilterOutput",
    "WriteFilterOutput", "CloseFilterOutput",      "FilterWriteSpecialData",    "FilterUnderstandsFormat",
    "OpenFilterInput",   "ReadFilterInput",        "CloseFilterInput",          "FilterGetFileSize",
    "FilterOptions",     "FilterOptionsString",    "FilterGetFirstSpecialData", "FilterGetNextSpecialData",
};

}  // namespace

bool Plugin::Load(const std::string& path, std::string& error) {
  char full[MAX_PATH];
  const DWORD n = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
  path_ = (n > 0 && n < MAX_PATH) ? std::string(full, n) : path;
  // The plug-in's own error boxes are its business; Windows' "DLL not found" box is not.
  const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  loaded_ = std::make_unique<LoadedPlugin>(path_.c_str());
  const DWORD loadError = GetLastError();
  SetErrorMode(previous);
  if (!loaded_->loaded()) {
    error = ExplainLoadFailure(path_, loadError);
    return false;
  }
  return true;
}

std::vector<std::pair<const char*, bool>> Plugin::ExportTable() const {
  std::vector<std::pair<const char*, bool>> table;
  for (const char* name : kEntryNames) table.emplace_back(name, GetProcAddress(loaded_->module, name) != nullptr);
  return table;
}

const char* Plugin::FirstMissing(std::initializer_list<const char*> names) const {
  for (const char* name : names)
    if (!GetProcAddress(loaded_->module, name)) return name;
  return nullptr;
}

CallTimer::CallTimer() {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  frequency_ = f.QuadPart > 0 ? f.QuadPart : 1;
}

CallTimer::Stopwatch::Stopwatch(CallTimer& t) : timer(t) {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  start = now.QuadPart;
}

CallTimer::Stopwatch::~Stopwatch() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  timer.ticks_ += now.QuadPart - start;
}

}  // namespace flthost
