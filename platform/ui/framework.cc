// The application and dialog classes, and the Win32 calls on running
// dialogs; see nt/afxdialogs.h and nt/winuser.h.
#include <cstring>
#include <iostream>
#include <map>

#include "nt/afxdialogs.h"
#include "nt/win32.h"
#include "screen.h"
#include "window.h"

namespace nt {
namespace ui {

namespace {

// A dialog between the start and the end of its DoModal.
struct RunningDialog {
    Window *window;
    bool ended = false;
    INT_PTR result = 0;
};

std::map<HWND, RunningDialog *> &RunningDialogs() {
    static auto *dialogs = new std::map<HWND, RunningDialog *>;  // lives as long as the process
    return *dialogs;
}

HWND Register(RunningDialog *dialog) {
    static uintptr_t next = 0;
    next += 4;
    const HWND handle = reinterpret_cast<HWND>(next);
    RunningDialogs()[handle] = dialog;
    return handle;
}

RunningDialog *Running(HWND handle) {
    auto found = RunningDialogs().find(handle);
    return found == RunningDialogs().end() ? nullptr : found->second;
}

Control *CheckBoxOf(HWND dialog, int id) {
    RunningDialog *running = Running(dialog);
    Control *control = running != nullptr ? running->window->Find(id) : nullptr;
    return control != nullptr && control->kind == Control::kCheckBox ? control : nullptr;
}

const ResourceTable *resources = nullptr;

CWinApp *application = nullptr;

}  // namespace

void SetResources(const ResourceTable *table) { resources = table; }

const DialogTemplate *FindDialogTemplate(UINT id) {
    for (size_t i = 0; resources != nullptr && i < resources->dialogCount; ++i) {
        if (resources->dialogs[i].id == id) {
            return &resources->dialogs[i];
        }
    }
    return nullptr;
}

bool ScreenHoldsDialogs(const UINT *ids, size_t count) {
    Screen &screen = CurrentScreen();
    for (size_t i = 0; i < count; ++i) {
        const DialogTemplate *dialog = FindDialogTemplate(ids[i]);
        if (dialog == nullptr) {
            std::cerr << ProgramName() << ": no dialog template " << ids[i]
                      << " among the resources\n";
            return false;
        }
        std::string why;
        if (!screen.Holds(Window::FromTemplate(*dialog), &why)) {
            std::cerr << ProgramName() << ": the terminal is too small: " << why
                      << "; enlarge it and start again\n";
            return false;
        }
    }
    return true;
}

}  // namespace ui
}  // namespace nt

// ---- Win32 calls. -------------------------------------------------------------

extern "C" {

BOOL EndDialog(HWND dialog, INT_PTR result) {
    nt::ui::RunningDialog *running = nt::ui::Running(dialog);
    if (running == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    running->ended = true;
    running->result = result;
    return TRUE;
}

BOOL CheckDlgButton(HWND dialog, int id, UINT check) {
    nt::ui::Control *box = nt::ui::CheckBoxOf(dialog, id);
    if (box == nullptr || check > BST_INDETERMINATE) {
        SetLastError(box == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    box->check = static_cast<int>(check);
    return TRUE;
}

UINT IsDlgButtonChecked(HWND dialog, int id) {
    const nt::ui::Control *box = nt::ui::CheckBoxOf(dialog, id);
    return box != nullptr ? static_cast<UINT>(box->check) : BST_UNCHECKED;
}

int LoadStringA(HINSTANCE, UINT id, LPSTR buffer, int size) {
    const nt::ui::ResourceTable *table = nt::ui::resources;
    for (size_t i = 0; table != nullptr && i < table->stringCount; ++i) {
        if (table->strings[i].id != id) {
            continue;
        }
        if (buffer == nullptr || size <= 0) {
            return 0;
        }
        const size_t length =
            std::min(std::strlen(table->strings[i].text), static_cast<size_t>(size - 1));
        std::memcpy(buffer, table->strings[i].text, length);
        buffer[length] = '\0';
        return static_cast<int>(length);
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
}

}  // extern "C"

// ---- Command targets. -------------------------------------------------------------

CCmdTarget::~CCmdTarget() = default;

const nt::ui::MessageMap *CCmdTarget::ThisMessageMap() {
    static const nt::ui::MessageMapEntry entries[] = {{0, 0, nullptr}};
    static const nt::ui::MessageMap map = {nullptr, entries};
    return &map;
}

const nt::ui::MessageMap *CCmdTarget::GetMessageMap() const { return ThisMessageMap(); }

BOOL CCmdTarget::OnCmdMsg(UINT id, int code) {
    for (const nt::ui::MessageMap *map = GetMessageMap(); map != nullptr; map = map->base) {
        for (const nt::ui::MessageMapEntry *entry = map->entries; entry->handler != nullptr;
             ++entry) {
            if (entry->id == id && static_cast<int>(entry->code) == code) {
                (this->*entry->handler)();
                return TRUE;
            }
        }
    }
    return FALSE;
}

// ---- Dialogs. -------------------------------------------------------------------------

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_BN_CLICKED(IDOK, OnOK)
ON_BN_CLICKED(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT templateId, CWnd *) : templateId_(templateId) {}

CDialog::~CDialog() = default;

INT_PTR CDialog::DoModal() {
    const nt::ui::DialogTemplate *dialog = nt::ui::FindDialogTemplate(templateId_);
    if (dialog == nullptr) {
        std::cerr << nt::ui::ProgramName() << ": no dialog template " << templateId_
                  << " among the resources\n";
        return -1;
    }
    if (m_hWnd != nullptr) {
        return -1;  // already running
    }
    nt::ui::Screen &screen = nt::ui::CurrentScreen();
    if (!screen.Begin()) {
        return -1;
    }
    nt::ui::Window window = nt::ui::Window::FromTemplate(*dialog);
    nt::ui::RunningDialog running{&window};
    m_hWnd = nt::ui::Register(&running);
    if (OnInitDialog()) {
        window.FocusFirstTabStop();
    }
    nt::ui::RunModal(
        screen, window, [this](int id) { OnCmdMsg(static_cast<UINT>(id), BN_CLICKED); },
        [&running] { return running.ended; }, [this] { EndDialog(IDCANCEL); });
    screen.End(window, running.result);
    nt::ui::RunningDialogs().erase(m_hWnd);
    m_hWnd = nullptr;
    return running.result;
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange *) {}

void CDialog::OnOK() {
    if (UpdateData(TRUE)) {
        EndDialog(IDOK);
    }
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
    if (nt::ui::Running(m_hWnd) == nullptr) {
        return FALSE;
    }
    CDataExchange exchange(this, saveAndValidate);
    DoDataExchange(&exchange);
    return TRUE;
}

void CDialog::EndDialog(int result) { ::EndDialog(m_hWnd, result); }

UINT CDialog::IsDlgButtonChecked(int id) const { return ::IsDlgButtonChecked(m_hWnd, id); }

void CDialog::CheckDlgButton(int id, UINT check) { ::CheckDlgButton(m_hWnd, id, check); }

void DDX_Check(CDataExchange *exchange, int id, int &value) {
    CDialog *dialog = exchange->m_pDlgWnd;
    if (exchange->m_bSaveAndValidate) {
        value = static_cast<int>(dialog->IsDlgButtonChecked(id));
    } else {
        dialog->CheckDlgButton(id, value >= 0 && value <= 2 ? static_cast<UINT>(value) : 0);
    }
}

// ---- The application. -------------------------------------------------------------------

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
END_MESSAGE_MAP()

CWinApp::CWinApp(LPCSTR appName) : m_pszAppName(appName) { nt::ui::application = this; }

CWinApp::~CWinApp() {
    if (nt::ui::application == this) {
        nt::ui::application = nullptr;
    }
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::ExitInstance() { return 0; }

BOOL CWinApp::Enable3dControls() { return FALSE; }

CWinApp *AfxGetApp() { return nt::ui::application; }

int AfxWinMain() {
    CWinApp *app = AfxGetApp();
    if (app == nullptr) {
        std::cerr << nt::ui::ProgramName() << ": the program has no application object\n";
        return 1;
    }
    if (app->m_pszAppName == nullptr &&
        LoadStringA(nullptr, AFX_IDS_APP_TITLE, app->appName_, sizeof app->appName_) > 0) {
        app->m_pszAppName = app->appName_;
    }
    app->InitInstance();  // no message loop follows, whatever it returns
    return app->ExitInstance();
}
