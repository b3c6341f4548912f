// Resource ids of vell_vqf.flt, shared by its resource script and its dialog code.
#pragma once

#define IDD_VQF_QUALITY 101    // the quality (bit rate per channel) dialog
#define IDC_VQF_QUALITY 1001   // its combo box of bit rates
