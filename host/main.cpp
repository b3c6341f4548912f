// flthost: a command-line host that drives any file-format plug-in through its exports.
#include "commands.h"
#include "message_box_watcher.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

int RunCommand(const flthost::Arguments& args) {
  using namespace flthost;
  switch (args.command) {
    case Command::Info: return RunInfo(args);
    case Command::Export: return RunExport(args);
    case Command::Import: return RunImport(args);
    case Command::Options: return RunOptions(args);
    case Command::Help: break;
  }
  std::fputs(UsageText(), stdout);
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace flthost;
  Arguments args;
  const std::string error = ParseArguments(argc, argv, args);
  if (!error.empty()) {
    std::fprintf(stderr, "flthost: %s (flthost --help for usage)\n", error.c_str());
    return kExitUsage;
  }
  if (!args.closeMessages) return RunCommand(args);
  // The plug-in's message boxes are answered as they appear; their texts follow the run.
  int result = kExitOk;
  std::vector<std::string> said;
  {
    MessageBoxWatcher watcher;
    result = RunCommand(args);
    said = watcher.Texts();
  }
  for (const std::string& text : said) std::fprintf(stderr, "flthost: the plug-in said: %s\n", text.c_str());
  return result;
}
