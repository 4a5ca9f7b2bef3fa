// The setup program's dialogs; see dialogs.h.
#include "dialogs.h"

#include "resource.h"

// ---- Component dialog. ------------------------------------------------------

BEGIN_MESSAGE_MAP(CComponentDlg, CDialog)
ON_BN_CLICKED(IDC_CONTINUE, OnContinue)
ON_BN_CLICKED(IDC_CANCEL_INSTALLATION, OnCancelInstallation)
END_MESSAGE_MAP()

CComponentDlg::CComponentDlg() : CDialog(IDD_COMPONENTS, nullptr) {}

CComponentDlg::~CComponentDlg() = default;

AgentSelection CComponentDlg::Selection() const {
    return (m_installHostdev == 1 ? kSelectHostdev : 0) |
           (m_installEthstat == 1 ? kSelectEthstat : 0);
}

void CComponentDlg::DoDataExchange(CDataExchange *exchange) {
    CDialog::DoDataExchange(exchange);
    DDX_Check(exchange, IDC_HOSTDEV, m_installHostdev);
    DDX_Check(exchange, IDC_ETHSTAT, m_installEthstat);
}

BOOL CComponentDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    m_installHostdev = 1;
    m_installEthstat = 1;
    UpdateData(FALSE);
    return TRUE;
}

void CComponentDlg::OnContinue() {
    UpdateData(TRUE);
    EndDialog(IDOK);
}

void CComponentDlg::OnCancelInstallation() { EndDialog(IDCANCEL); }

// ---- Replace dialog. ----------------------------------------------------------

BEGIN_MESSAGE_MAP(CReplaceDlg, CDialog)
ON_BN_CLICKED(IDC_REPLACE, OnReplace)
ON_BN_CLICKED(IDC_CANCEL_REPLACE, OnCancelInstallation)
END_MESSAGE_MAP()

CReplaceDlg::CReplaceDlg() : CDialog(IDD_REPLACE, nullptr) {}

CReplaceDlg::~CReplaceDlg() = default;

void CReplaceDlg::DoDataExchange(CDataExchange *exchange) { CDialog::DoDataExchange(exchange); }

void CReplaceDlg::OnReplace() { EndDialog(1); }

void CReplaceDlg::OnCancelInstallation() { EndDialog(2); }

// ---- Restart dialog. ------------------------------------------------------------

BEGIN_MESSAGE_MAP(CRestartDlg, CDialog)
ON_BN_CLICKED(IDC_RESTART_NOW, OnRestartNow)
ON_BN_CLICKED(IDC_DO_NOT_RESTART, OnDoNotRestart)
END_MESSAGE_MAP()

CRestartDlg::CRestartDlg() : CDialog(IDD_RESTART, nullptr) {}

CRestartDlg::~CRestartDlg() = default;

void CRestartDlg::DoDataExchange(CDataExchange *exchange) { CDialog::DoDataExchange(exchange); }

void CRestartDlg::OnRestartNow() { EndDialog(1); }

void CRestartDlg::OnDoNotRestart() { EndDialog(2); }
