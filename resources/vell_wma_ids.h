// Resource ids of the WMA plug-in's options dialog, shared by the template and the code.
#pragma once

#define IDD_WMA_FORMAT 101   // the options dialog
#define IDC_WMA_FORMAT 1000  // its drop-down list of output formats
