// Resource identifiers of the setup program: dialog templates, their
// controls, and strings.
#ifndef SETUP_RESOURCE_H
#define SETUP_RESOURCE_H

#include "nt/afxdialogs.h"

#define IDR_MAINFRAME 128
#define IDD_RESTART 130
#define IDD_COMPONENTS 131
#define IDD_REPLACE 134

#define IDC_HOSTDEV 1001
#define IDC_ETHSTAT 1002
#define IDC_RESTART_NOW 1008
#define IDC_DO_NOT_RESTART 1009
#define IDC_CONTINUE 1010
#define IDC_CANCEL_INSTALLATION 1011
#define IDC_REPLACE 1013
#define IDC_CANCEL_REPLACE 1014

// The setup program's dialog templates and string table.
extern const nt::ui::ResourceTable kSetupResources;

#endif  // SETUP_RESOURCE_H
