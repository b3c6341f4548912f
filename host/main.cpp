// flthost: a command-line host that drives any file-format plug-in through its exports.
#include "commands.h"

#include <cstdio>

int main(int argc, char** argv) {
  using namespace flthost;
  Arguments args;
  const std::string error = ParseArguments(argc, argv, args);
  if (!error.empty()) {
    std::fprintf(stderr, "flthost: %s (flthost --help for usage)\n", error.c_str());
    return kExitUsage;
  }
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
