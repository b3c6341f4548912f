// The quality dialog (resource 101): the user picks a bit rate per channel.
#pragma once

#include <windows.h>

namespace vqf {

// The dialog's procedure; its parameter is the initial options word (1 to 8 selects an
// entry, anything else selects none). Ends with the chosen entry + 1 on OK, 0 on Cancel.
INT_PTR CALLBACK QualityDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Runs the dialog from module's resources, owned by ownerWindow. Returns the chosen
// entry, or the initial value (options, 0 meaning the default) when nothing was chosen.
DWORD RunQualityDialog(HWND ownerWindow, HINSTANCE module, DWORD options);

}  // namespace vqf
