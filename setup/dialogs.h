// The setup program's three dialogs.
//
// CComponentDlg (template 131) asks which agents to install. It ends with
// IDOK when the user chose Continue, and the choice is then read from its
// members (Selection()); it ends with IDCANCEL (2) for Cancel Installation
// and Escape. A selection travels in the members rather than in the end
// value, because a selection of 2 would look like IDCANCEL there.
// CReplaceDlg (134) ends with 1 to replace an earlier installation, 2 to
// cancel; CRestartDlg (130) with 1 to restart the SNMP service now, 2 not
// to.
#ifndef SETUP_DIALOGS_H
#define SETUP_DIALOGS_H

#include "nt/afxdialogs.h"

// The agents chosen: bit 0 (1) HOSTDEV.DLL, bit 1 (2) ETHSTAT.DLL.
using AgentSelection = unsigned;
constexpr AgentSelection kSelectHostdev = 1;
constexpr AgentSelection kSelectEthstat = 2;

class CComponentDlg : public CDialog {
public:
    CComponentDlg();
    ~CComponentDlg() override;

    // The states of boxes 1001 and 1002 when the dialog ended with
    // Continue: 0 unchecked, 1 checked.
    int m_installHostdev = 0;
    int m_installEthstat = 0;

    // The selection the members give.
    AgentSelection Selection() const;

protected:
    void DoDataExchange(CDataExchange *exchange) override;
    // Both boxes start checked, whatever the members held; the focus goes
    // to box 1001.
    BOOL OnInitDialog() override;
    void OnContinue();
    void OnCancelInstallation();

    DECLARE_MESSAGE_MAP()
};

class CReplaceDlg : public CDialog {
public:
    CReplaceDlg();
    ~CReplaceDlg() override;

protected:
    void DoDataExchange(CDataExchange *exchange) override;
    void OnReplace();
    void OnCancelInstallation();

    DECLARE_MESSAGE_MAP()
};

class CRestartDlg : public CDialog {
public:
    CRestartDlg();
    ~CRestartDlg() override;

protected:
    void DoDataExchange(CDataExchange *exchange) override;
    void OnRestartNow();
    void OnDoNotRestart();

    DECLARE_MESSAGE_MAP()
};

#endif  // SETUP_DIALOGS_H
