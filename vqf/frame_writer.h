// The frame record: one encoded frame's quantiser indices written bit by bit, with field
// widths and counts taken from the encoder library's layout records. Every output file
// keeps its own copy of the layout, fetched when it opens: files of different modes may be
// open at once, and each record must follow the layout of its own stream.
#pragma once

#include "bit_file.h"
#include "tvqenc_api.h"

// The layout of one stream's frame records, as the library reported it for that stream.
// The width arrays belong to the library; a type-2 frame may refresh shapeCount of block
// type 2 and the two type-2 width arrays in place.
struct FrameLayout {
  EncoderConfig config;
  CodebookWidths widths;
};

// Asks the library for the layout of the stream it initialised last (TvqEncGetConfInfo,
// then TvqEncGetVectorInfo). Call right after TvqEncInitialize has succeeded.
void FetchFrameLayout(FrameLayout* layout);

// Writes one frame record with the stream's layout. For block type 2 it first calls
// TvqEncUpdateVectorInfo, which updates that layout. Values too wide for their field print
// a diagnostic line on standard output.
void WriteFrameRecord(const FrameIndex* index, FrameLayout* layout, BitFile* file);
