#include "quality_dialog.h"

#include "bit_rates.h"
#include "vell_vqf_resource.h"

namespace vqf {

static void FillRateList(HWND combo, LPARAM initial) {
  for (uint16_t rate : BitRatesPerChannel) {
    char text[8];
    wsprintfA(text, "%u", static_cast<unsigned>(rate));
    SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
  }
  WPARAM selection = static_cast<WPARAM>(-1);  // no selection
  if (initial >= 1 && initial <= static_cast<LPARAM>(kBitRateCount))
    selection = static_cast<WPARAM>(initial - 1);
  SendMessageA(combo, CB_SETCURSEL, selection, 0);
}

INT_PTR CALLBACK QualityDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      FillRateList(GetDlgItem(dialog, IDC_VQF_QUALITY), lParam);
      return TRUE;
    case WM_COMMAND:
      if (wParam == IDOK) {
        // With nothing selected CB_GETCURSEL gives -1, so the dialog ends with 0.
        LRESULT selected = SendDlgItemMessageA(dialog, IDC_VQF_QUALITY, CB_GETCURSEL, 0, 0);
        EndDialog(dialog, selected + 1);
      } else if (wParam == IDCANCEL) {
        EndDialog(dialog, 0);
      }
      return FALSE;
    default:
      return FALSE;
  }
}

DWORD RunQualityDialog(HWND ownerWindow, HINSTANCE module, DWORD options) {
  const DWORD initial = options != 0 ? options : kDefaultOptions;
  INT_PTR result = DialogBoxParamA(module, MAKEINTRESOURCEA(IDD_VQF_QUALITY), ownerWindow,
                                   QualityDialogProc, static_cast<LPARAM>(initial));
  // 0 is Cancel or OK without a selection; any other result, the call's failure value
  // included, goes back to the host, which maps what is out of range to the default.
  return result != 0 ? static_cast<DWORD>(result) : initial;
}

}  // namespace vqf
