// The application framework of dialog programs (libntui): what the setup
// program needs in place of MFC, written for the terminal.
//
// A program is one global application object, a class derived from
// CWinApp whose InitInstance does the program's work, plus dialogs derived
// from CDialog, each made from a dialog template among the program's
// resources. The program hands its resources to the framework with
// SetResources and calls AfxWinMain from main; AfxWinMain runs
// InitInstance once and returns the exit status 0, whatever InitInstance
// returns, since no message loop follows it.
//
// Modal windows (dialogs and message boxes) and the keys that drive them:
//  - with a terminal on standard input, each modal window is drawn from its
//    template with ncurses (a character cell is 4 dialog units wide and 8
//    high) and answers the NT dialog keys: Tab and Shift-Tab along the tab
//    stops in template order, the arrow keys within a group, Space on a
//    check box or a button, Enter on the focused push button or else the
//    default one, Escape as cancel, a mnemonic letter with Alt (or alone,
//    when the focused control takes no letters) presses its control. The
//    terminal is given back between modal windows, so a program started
//    meanwhile writes to it as usual.
//  - otherwise keys come one name a line from standard input: Enter,
//    Escape, Tab, Shift+Tab, Space, Up, Down, Left, Right, Alt+<letter> or
//    a bare letter (names in any case; blank lines and text from '#' on
//    are ignored). Each modal window is printed as text before each key it
//    takes, the focused control marked with '>', and its end is printed
//    with the value it ended with. When the script runs out, every window
//    still waiting ends as Escape would end it; a line that names no key
//    is reported on standard error and ends the script there.
#ifndef NT_AFXDIALOGS_H
#define NT_AFXDIALOGS_H

#include <cstddef>

#include "nt/winuser.h"

// ---- Resources. ---------------------------------------------------------------
namespace nt {
namespace ui {

// One control of a dialog template. Coordinates in dialog units.
struct DialogItemTemplate {
    DWORD style;
    DWORD exStyle;
    short x, y, cx, cy;
    int id;
    const char *windowClass;  // "BUTTON", "STATIC"
    const char *text;         // '&' marks the mnemonic letter, "&&" is '&'
};

struct DialogTemplate {
    UINT id;
    DWORD style;
    DWORD exStyle;
    short x, y, cx, cy;
    const char *caption;
    const char *fontName;
    WORD pointSize;
    const DialogItemTemplate *items;  // in template order, which is the tab order
    size_t itemCount;
};

struct StringResource {
    UINT id;
    const char *text;
};

struct ResourceTable {
    const DialogTemplate *dialogs;
    size_t dialogCount;
    const StringResource *strings;
    size_t stringCount;
};

// The program's resources, which must outlive their use. Call before the
// first dialog or string is loaded.
void SetResources(const ResourceTable *table);

// The template with that id, or null.
const DialogTemplate *FindDialogTemplate(UINT id);

// Whether the screen can show each of the dialogs whole, as it is now.
// Always true for a key script. For a terminal too small for one of them,
// or a template that is not among the resources, false after one line on
// standard error that says so.
bool ScreenHoldsDialogs(const UINT *ids, size_t count);

}  // namespace ui
}  // namespace nt

// ---- Message maps. ----------------------------------------------------------------
class CCmdTarget;

namespace nt {
namespace ui {

using CommandHandler = void (CCmdTarget::*)();

struct MessageMapEntry {
    UINT code;  // BN_CLICKED
    UINT id;    // the control
    CommandHandler handler;
};

// A class's entries, ending with a null handler, and its base class's map.
struct MessageMap {
    const MessageMap *base;
    const MessageMapEntry *entries;
};

}  // namespace ui
}  // namespace nt

// In the class: DECLARE_MESSAGE_MAP(). In one source file:
//   BEGIN_MESSAGE_MAP(CMyDlg, CDialog)
//       ON_BN_CLICKED(1010, OnContinue)
//   END_MESSAGE_MAP()
// A click with no entry in the class goes to its base class's map.
#define DECLARE_MESSAGE_MAP()                            \
protected:                                               \
    static const ::nt::ui::MessageMap *ThisMessageMap(); \
    const ::nt::ui::MessageMap *GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                               \
    const ::nt::ui::MessageMap *theClass::GetMessageMap() const { return ThisMessageMap(); } \
    const ::nt::ui::MessageMap *theClass::ThisMessageMap() {                                 \
        using ThisClass = theClass;                                                          \
        using BaseClass = baseClass;                                                         \
        static_assert(sizeof(ThisClass) > 0, "complete class");                              \
        static const ::nt::ui::MessageMapEntry entries[] = {
#define ON_BN_CLICKED(id, memberFunction) \
    {BN_CLICKED, static_cast<UINT>(id),   \
     static_cast<::nt::ui::CommandHandler>(&ThisClass::memberFunction)},

#define END_MESSAGE_MAP()                                                           \
    { 0, 0, nullptr }                                                               \
    }                                                                               \
    ;                                                                               \
    static const ::nt::ui::MessageMap map = {BaseClass::ThisMessageMap(), entries}; \
    return &map;                                                                    \
    }

// ---- Classes. -------------------------------------------------------------------

// Anything that receives commands through a message map.
class CCmdTarget {
public:
    CCmdTarget() = default;
    virtual ~CCmdTarget();
    CCmdTarget(const CCmdTarget &) = delete;
    CCmdTarget &operator=(const CCmdTarget &) = delete;

    virtual const nt::ui::MessageMap *GetMessageMap() const;

    // Calls the handler that the message maps give for code from control
    // id; false when no map has one.
    BOOL OnCmdMsg(UINT id, int code);

protected:
    static const nt::ui::MessageMap *ThisMessageMap();
};

class CWnd : public CCmdTarget {
public:
    HWND m_hWnd = nullptr;  // set while the window exists
};

class CDialog;

// The direction and the dialog of one data exchange.
class CDataExchange {
public:
    CDataExchange(CDialog *dialog, BOOL saveAndValidate)
        : m_pDlgWnd(dialog), m_bSaveAndValidate(saveAndValidate) {}
    CDialog *m_pDlgWnd;
    BOOL m_bSaveAndValidate;  // TRUE: controls into members
};

// Exchanges check box id's state with value: 0 unchecked, 1 checked, 2
// indeterminate. A value outside 0..2 loads as unchecked.
void DDX_Check(CDataExchange *exchange, int id, int &value);

class CDialog : public CWnd {
public:
    // templateId names a template of the program's resources; the parent
    // is not used (dialogs here have no owner).
    explicit CDialog(UINT templateId, CWnd *parent = nullptr);
    ~CDialog() override;

    // Creates the dialog from its template, runs it modally and returns the
    // value EndDialog gave, or -1 when the dialog cannot be created (no such
    // template, or no screen to show it on).
    virtual INT_PTR DoModal();

    // The base version loads the controls from the members (UpdateData
    // with FALSE) and returns TRUE, so the first tab stop gets the focus.
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange *exchange);
    // IDOK: UpdateData(TRUE), then EndDialog(IDOK). IDCANCEL and Escape:
    // EndDialog(IDCANCEL).
    virtual void OnOK();
    virtual void OnCancel();

    // Runs DoDataExchange; FALSE when the dialog is not running.
    BOOL UpdateData(BOOL saveAndValidate = TRUE);
    void EndDialog(int result);

    UINT IsDlgButtonChecked(int id) const;
    void CheckDlgButton(int id, UINT check);

    DECLARE_MESSAGE_MAP()

private:
    UINT templateId_;
};

class CWinApp : public CCmdTarget {
public:
    // The one application object registers itself; its name is string
    // 57344 of the resources when appName is null.
    explicit CWinApp(LPCSTR appName = nullptr);
    ~CWinApp() override;

    // The program's work. The program ends after it, whatever it returns.
    virtual BOOL InitInstance();
    // Called when InitInstance has returned; its result is the program's
    // exit status (0 unless a derived class says otherwise).
    virtual int ExitInstance();

    // Asks for the three-dimensional control look of CTL3D32.DLL. There is
    // no such library here: the plain look stays, and the result is FALSE.
    BOOL Enable3dControls();

    LPCSTR m_pszAppName = nullptr;

    DECLARE_MESSAGE_MAP()

private:
    friend int AfxWinMain();
    char appName_[256] = {};
};

int AfxWinMain();

// The application object, or null before it is constructed.
CWinApp *AfxGetApp();

// Runs the application object's InitInstance, then its ExitInstance, whose
// result is the exit status. 1 (with a line on standard error) when the
// program has no application object.
int AfxWinMain();

#define AFX_IDS_APP_TITLE 0xE000

#endif  // NT_AFXDIALOGS_H
