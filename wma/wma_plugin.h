// Shared pieces of the WMA plug-in's Windows layer.
#pragma once

#include "vell_filter.h"
#include "wmaudsdk_api.h"

// The process heap, fetched when the plug-in is attached; input contexts live in it.
extern HANDLE g_processHeap;

// Room for a file name handed to the SDK: 259 units and the terminator.
constexpr int kWidePathUnits = 260;

// Converts the host's file name (system ANSI code page) to the SDK's 16-bit path.
// False for a null name, a name that does not fit kWidePathUnits, or bytes the code
// page cannot convert: such a name is refused, never cut short.
bool WidenPath(const char* fileName, WCHAR* wide);

// A message box with no owner, the system's caption and an OK button.
void ShowMessage(const char* text);
