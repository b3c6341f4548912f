// The binding to the encoder library TVQENC.DLL: the module-wide entry-point pointers that
// the rest of the code calls through, and the loading that fills them (Windows only).
// Native tests point the pointers at fakes or at the stand-in linked in directly.
#pragma once

#include "tvqenc_api.h"

struct EncoderEntryPoints {
  TvqEncGetVectorInfoProc TvqEncGetVectorInfo;
  TvqEncGetConfInfoProc TvqEncGetConfInfo;
  TvqEncUpdateVectorInfoProc TvqEncUpdateVectorInfo;
  TvqEncGetFrameSizeProc TvqEncGetFrameSize;
  TvqEncInitializeProc TvqEncInitialize;
  TvqGetVersionIDProc TvqGetVersionID;
  TvqEncTerminateProc TvqEncTerminate;
  TvqEncodeFrameProc TvqEncodeFrame;
};

// The bound entry points (all null while nothing is bound). Part of vqf_core.
extern EncoderEntryPoints encoderEntryPoints;

// vqf_binding (Windows only) from here on.
//
// Loads and binds TVQENC.DLL. module is an optional HMODULE (null: none). Search order:
// beside module, beside the process's executable, then the default library search.
// Returns 1 when loaded and all eight entry points are bound (at once when already
// loaded: no second load or binding), else 0 with nothing left loaded.
int LoadEncoderLibrary(void* module);

// Frees the library if it is loaded and clears the entry points.
void UnloadEncoderLibrary();

// The loaded library's HMODULE, or null.
void* EncoderLibraryHandle();
