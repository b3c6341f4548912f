// The Windows file side of the plug-in: opening files and presenting a handle as the byte
// source or sink the chunk streams read from or write to.
#pragma once

#include "aud_stream.h"

#include <windows.h>

// Opens an existing file for reading, others may read too. INVALID_HANDLE_VALUE on failure.
HANDLE OpenForReading(const char* fileName);

// Reads exactly `length` bytes; 0 when the read fails or comes up short.
int ReadExactly(HANDLE file, uint8_t* bytes, uint32_t length);

// Writes exactly `length` bytes; 0 when the write fails or comes up short.
int WriteExactly(HANDLE file, const uint8_t* bytes, uint32_t length);

AudByteSource FileSource(HANDLE file);
AudByteSink FileSink(HANDLE file);
