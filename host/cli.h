// flthost's command line and exit codes. Portable, so the parsing is unit-tested natively.
#pragma once

#include <cstdint>
#include <string>

namespace flthost {

// Each failure a script may want to tell apart has its own exit code (listed in --help).
enum ExitCode : int {
  kExitOk = 0,
  kExitIo = 1,              // the host's own files: input unreadable, output not writable
  kExitUsage = 2,           // bad command line
  kExitLoad = 3,            // the plug-in would not load
  kExitEntryPoint = 4,      // the plug-in lacks an entry point the command needs
  kExitRefusedOutput = 5,   // OpenFilterOutput returned a null handle
  kExitRefusedInput = 6,    // the plug-in does not take the input file
  kExitBadWav = 7,          // the WAV is malformed, truncated or not 8/16-bit PCM
  kExitShortWrite = 8,      // WriteFilterOutput consumed fewer bytes than given
  kExitShortRead = 9,       // the import delivered less than FilterGetFileSize announced
  kExitContract = 10,       // the plug-in answered outside the contract
};

enum class Command { Help, Info, Export, Import, Options };

struct Arguments {
  Command command = Command::Help;
  std::string filter;
  std::string input;
  std::string output;
  uint32_t options = 0;
  bool quiet = false;
  bool closeMessages = false;
  bool time = false;
};

// Fills `args` from argv; returns an empty string, or a one-line reason the line is wrong.
std::string ParseArguments(int argc, const char* const* argv, Arguments& args);

// Whether an import that delivered `delivered` of the `announced` bytes ended normally. The
// announced size is the plug-in's estimate (a WMA import announces its duration plus 1 ms),
// so a shortfall of at most 100 ms of audio at the file's rate and frame size is an end, not
// a fault.
bool ShortReadIsNormalEnd(uint64_t delivered, uint64_t announced, uint32_t sampleRate, uint32_t frameBytes);

// The --help text, exit codes included.
const char* UsageText();

}  // namespace flthost
