// The options dialog: the user picks one row of the format table; the row number
// is the options word the host keeps.
#include "wma_core.h"
#include "wma_plugin.h"
#include "vell_wma_ids.h"

static void FillFormatList(HWND dialog) {
  HWND list = GetDlgItem(dialog, IDC_WMA_FORMAT);
  char text[128];
  for (uint32_t i = 0; i < kWmaFormatCount; ++i) {
    const WmaFormatRow& row = WmaFormatTable[i];
    // Integer kHz on purpose: 11025, 22050 and 44100 show as 11, 22 and 44.
    wsprintfA(text, "%u kbps, %u kHz, %s", static_cast<unsigned>(row.kbps),
              static_cast<unsigned>(row.sampleRate / 1000), row.channels == 2 ? "stereo" : "mono");
    SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
  }
}

// lParam of WM_INITDIALOG is the initial row; list item i - 1 is row i, so a row
// outside 1 to 34 selects nothing.
INT_PTR CALLBACK FormatDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      FillFormatList(dialog);
      SendDlgItemMessageA(dialog, IDC_WMA_FORMAT, CB_SETCURSEL, static_cast<WPARAM>(lParam - 1), 0);
      return TRUE;
    case WM_COMMAND:
      if (HIWORD(wParam) != 0) return TRUE;  // notifications of the list and buttons
      if (LOWORD(wParam) == IDOK) {
        // CB_ERR (-1) when nothing is selected gives 0, "no choice".
        const LRESULT selected = SendDlgItemMessageA(dialog, IDC_WMA_FORMAT, CB_GETCURSEL, 0, 0);
        EndDialog(dialog, selected + 1);
      } else {
        EndDialog(dialog, 0);  // Cancel, the Escape key, the close box
      }
      return TRUE;
    default:
      return FALSE;
  }
}

DWORD WINAPI FilterGetOptions(HWND ownerWindow, HINSTANCE module, long, long, long, DWORD options) {
  const uint32_t initialRow = WmaDialogInitialRow(options);
  const INT_PTR result = DialogBoxParamA(module, MAKEINTRESOURCEA(IDD_WMA_FORMAT), ownerWindow,
                                         FormatDialogProc, static_cast<LPARAM>(initialRow));
  // -1: the dialog could not be shown; the host keeps "no choice" rather than a bogus row.
  return result < 0 ? 0 : static_cast<DWORD>(result);
}
