// The setup program's resources: dialog templates 130, 131 and 134 and the
// string table. Coordinates are dialog units; the controls of each template
// are listed in template order, which is the tab order.
#include "resource.h"

namespace {

constexpr DWORD kDialogStyle = WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_MODALFRAME | DS_SETFONT;
constexpr DWORD kText = WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT;
constexpr DWORD kButton = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD kDefaultButton = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON;
constexpr DWORD kCheckBox = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX;

constexpr const char *kCaption = "Veltrix SNMP Installation";
constexpr const char *kFont = "MS Sans Serif";
constexpr WORD kPointSize = 8;

const nt::ui::DialogItemTemplate kComponentItems[] = {
    {kCheckBox, 0, 35, 30, 145, 10, IDC_HOSTDEV, "BUTTON", "RFC-1514 Host Resources MIB Support"},
    {kCheckBox, 0, 35, 46, 145, 10, IDC_ETHSTAT, "BUTTON", "RFC-1643 Ethernet 802.3 MIB Support"},
    {kButton, 0, 115, 65, 90, 14, IDC_CANCEL_INSTALLATION, "BUTTON", "Cancel Installation"},
    {kDefaultButton, 0, 10, 65, 90, 14, IDC_CONTINUE, "BUTTON", "Continue"},
    {kText, 0, 8, 5, 200, 8, IDC_STATIC, "STATIC",
     "Select the SNMP components you wish to install. Click on"},
    {kText, 0, 8, 15, 200, 8, IDC_STATIC, "STATIC",
     "Continue when you have completed your selection."},
};

const nt::ui::DialogItemTemplate kReplaceItems[] = {
    {kDefaultButton, 0, 5, 42, 95, 14, IDC_REPLACE, "BUTTON", "Replace Existing Software"},
    {kButton, 0, 110, 42, 95, 14, IDC_CANCEL_REPLACE, "BUTTON", "Cancel Installation"},
    {kText, 0, 5, 7, 205, 8, IDC_STATIC, "STATIC",
     "Setup has detected the Veltrix SNMP Extension agents "},
    {kText, 0, 5, 15, 205, 8, IDC_STATIC, "STATIC",
     "already installed on this system.  Would you like to replace"},
    {kText, 0, 5, 23, 205, 8, IDC_STATIC, "STATIC",
     "the existing software, or cancel the installation?"},
};

const nt::ui::DialogItemTemplate kRestartItems[] = {
    {kDefaultButton, 0, 10, 40, 85, 14, IDC_RESTART_NOW, "BUTTON", "&Restart SNMP Now"},
    {kButton, 0, 105, 40, 85, 14, IDC_DO_NOT_RESTART, "BUTTON", "&Do Not Restart SNMP"},
    {kText, 0, 10, 5, 190, 8, IDC_STATIC, "STATIC",
     "SNMP services will need to be restarted in order for this"},
    {kText, 0, 10, 15, 190, 8, IDC_STATIC, "STATIC",
     "installation to take effect. Do you wish to restart SNMP"},
    {kText, 0, 10, 25, 190, 8, IDC_STATIC, "STATIC", "services now?"},
};

template <size_t N>
constexpr size_t Count(const nt::ui::DialogItemTemplate (&)[N]) {
    return N;
}

const nt::ui::DialogTemplate kDialogs[] = {
    {IDD_RESTART, kDialogStyle, 0, 0, 0, 206, 58, kCaption, kFont, kPointSize, kRestartItems,
     Count(kRestartItems)},
    {IDD_COMPONENTS, kDialogStyle, 0, 0, 0, 217, 88, kCaption, kFont, kPointSize, kComponentItems,
     Count(kComponentItems)},
    {IDD_REPLACE, kDialogStyle, 0, 0, 0, 217, 63, kCaption, kFont, kPointSize, kReplaceItems,
     Count(kReplaceItems)},
};

const nt::ui::StringResource kStrings[] = {
    {IDR_MAINFRAME, "Veltrix SNMP Extension Agent Setup"},
    {AFX_IDS_APP_TITLE, "Veltrix SNMP Extension Agent Setup"},
};

}  // namespace

const nt::ui::ResourceTable kSetupResources = {kDialogs, sizeof kDialogs / sizeof kDialogs[0],
                                               kStrings, sizeof kStrings / sizeof kStrings[0]};
