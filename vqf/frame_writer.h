// The frame record: one encoded frame's quantiser indices written bit by bit, with field
// widths and counts taken from the encoder library's layout records. The layout is
// module-wide: each FetchFrameLayout refreshes it for every open file.
#pragma once

#include "bit_file.h"
#include "tvqenc_api.h"

// The layout the library reported last; read by WriteFrameRecord.
extern EncoderConfig encoderConfig;
extern CodebookWidths codebookWidths;

// Asks the library for its layout (TvqEncGetConfInfo, then TvqEncGetVectorInfo).
// Call after TvqEncInitialize has succeeded.
void FetchFrameLayout();

// Writes one frame record. For block type 2 it first calls TvqEncUpdateVectorInfo.
// Values too wide for their field print a diagnostic line on standard output.
void WriteFrameRecord(const FrameIndex* index, BitFile* file);
