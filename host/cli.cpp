#include "cli.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace flthost {
namespace {

bool ParseOptionsWord(const std::string& text, uint32_t& value) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || v > 0xFFFFFFFFull) return false;
  value = uint32_t(v);
  return true;
}

struct CommandShape {
  const char* name;
  Command command;
  size_t files;  // FILTER.flt and the files after it
  bool takesOptions;
};

const CommandShape kCommands[] = {
    {"info", Command::Info, 1, false},
    {"export", Command::Export, 3, true},
    {"import", Command::Import, 3, false},
    {"options", Command::Options, 1, true},
};

}  // namespace

std::string ParseArguments(int argc, const char* const* argv, Arguments& args) {
  std::vector<std::string> positional;
  bool optionsGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      args.command = Command::Help;
      return "";
    } else if (a == "--quiet" || a == "-q") {
      args.quiet = true;
    } else if (a == "--close-messages") {
      args.closeMessages = true;
    } else if (a == "--time") {
      args.time = true;
    } else if (a == "--options") {
      if (i + 1 >= argc || !ParseOptionsWord(argv[i + 1], args.options))
        return "--options needs a number from 0 to 4294967295";
      optionsGiven = true;
      ++i;
    } else if (a.size() > 1 && a[0] == '-') {
      return "unknown option " + a;
    } else {
      positional.push_back(a);
    }
  }
  if (positional.empty()) return "no command given";
  for (const CommandShape& shape : kCommands) {
    if (positional[0] != shape.name) continue;
    if (positional.size() - 1 != shape.files)
      return std::string(shape.name) + " takes " + std::to_string(shape.files) + " file argument" +
             (shape.files > 1 ? "s" : "");
    if (optionsGiven && !shape.takesOptions) return std::string(shape.name) + " takes no --options";
    args.command = shape.command;
    args.filter = positional[1];
    if (shape.files == 3) {
      args.input = positional[2];
      args.output = positional[3];
    }
    return "";
  }
  return "unknown command " + positional[0];
}

const char* UsageText() {
  return R"(usage: flthost COMMAND FILTER.flt [FILES] [--options N] [--quiet] [--time] [--close-messages]

Drives a file-format plug-in through its exported entry points.

commands:
  info FILTER.flt                  what the plug-in reports about itself and which
                                   entry points it exports
  export FILTER.flt IN.wav OUT     writes the WAV's samples to OUT through the plug-in,
                                   in blocks of the transfer size it asks for
  import FILTER.flt IN OUT.wav     reads IN through the plug-in into a PCM WAV
  options FILTER.flt               shows the plug-in's options dialog and prints the
                                   options word it returns

flags:
  --options N   options word for export, or the dialog's starting value (default 0)
  --quiet       no progress bar (it is drawn on stderr only when stderr is a terminal)
  --time        print "plugin-seconds: S", the time spent inside the plug-in's calls
                from the open call to the close call
  --close-messages
                answer the plug-in's message boxes as they appear and print each one's
                text on stderr as "flthost: the plug-in said: TEXT" (for scripts: a
                box would otherwise wait for a person)
  --help        this text

exit codes:
  0   success
  1   the host's own files: the input cannot be read or the output cannot be written
  2   bad command line
  3   the plug-in will not load (a missing DLL is named where Windows tells)
  4   the plug-in lacks an entry point the command needs
  5   export: the plug-in refused the sample type or could not create the output
  6   import: the plug-in does not take the input file
  7   the WAV is malformed, truncated, or not 8/16-bit integer PCM
  8   short write: the plug-in consumed fewer bytes than it was given
  9   short read: the import delivered fewer bytes than the plug-in announced, and
      more than 100 ms of audio fewer (a shorter shortfall is a normal end); the WAV
      holds everything that was read
  10  the plug-in answered outside the filter contract
)";
}

bool ShortReadIsNormalEnd(uint64_t delivered, uint64_t announced, uint32_t sampleRate, uint32_t frameBytes) {
  if (delivered >= announced) return true;
  // shortfall <= rate * frameBytes / 10, kept in integers so that exactly 100 ms passes.
  return (announced - delivered) * 10 <= uint64_t(sampleRate) * frameBytes;
}

}  // namespace flthost
