// The dialog framework and setup's dialogs, run in this process from key
// scripts: the same windows and key handling a person drives in the
// terminal.
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dialogs.h"
#include "nt/afxdialogs.h"
#include "resource.h"
#include "screen.h"
#include "window.h"

namespace {

// Keys from a string, windows printed to a string, for one test.
class KeyScript {
public:
    explicit KeyScript(const std::string &keys) : keys_(keys) {
        nt::ui::SetResources(&kSetupResources);
        nt::ui::UseKeyScript(&keys_, &output_);
    }
    ~KeyScript() { nt::ui::UseKeyScript(nullptr, nullptr); }
    std::string output() const { return output_.str(); }

    // The focused control's line of each printed window, in order.
    std::vector<std::string> FocusLines() const {
        std::vector<std::string> lines;
        std::istringstream in(output_.str());
        for (std::string line; std::getline(in, line);) {
            if (line.compare(0, 4, "  > ") == 0) {
                lines.push_back(line.substr(4));
            }
        }
        return lines;
    }

private:
    std::istringstream keys_;
    std::ostringstream output_;
};

// ---- The component dialog. ----------------------------------------------------

struct ComponentCase {
    const char *keys;
    INT_PTR result;
    AgentSelection selection;  // when the result is IDOK
};

TEST(ComponentDialog, KeysGiveTheSelectionOrCancel) {
    const ComponentCase cases[] = {
        {"Enter", IDOK, 3},                     // Continue, both boxes as shown
        {"Tab\nSpace\nEnter", IDOK, 1},         // 1002 cleared: Enter on a box is Continue
        {"Space\nEnter", IDOK, 2},              // 1001 cleared
        {"Space\nTab\nSpace\nEnter", IDOK, 0},  // both cleared
        {"Space\nSpace\nEnter", IDOK, 3},       // cleared and checked again
        {"Tab\nTab\nTab\nSpace", IDOK, 3},      // Space on Continue
        {"Shift+Tab\nEnter", IDOK, 3},          // back from 1001 to Continue
        {"Down\nSpace\nUp\nEnter", IDOK, 1},    // arrows move within the group
        {"Tab\nTab\nEnter", IDCANCEL, 0},       // Cancel Installation
        {"Tab\nTab\nSpace", IDCANCEL, 0},
        {"Space\nTab\nSpace\nEscape", IDCANCEL, 0},  // Escape, whatever the boxes show
        {"X\nAlt+Q\nEnter", IDOK, 3},                // letters no control has do nothing
        {"# only a comment\n\n", IDCANCEL, 0},       // the script runs out: Escape
        {"Space\n", IDCANCEL, 0},
    };
    for (const ComponentCase &c : cases) {
        SCOPED_TRACE(c.keys);
        KeyScript script(c.keys);
        CComponentDlg dialog;
        EXPECT_EQ(dialog.DoModal(), c.result);
        if (c.result == IDOK) {
            EXPECT_EQ(dialog.Selection(), c.selection);
        }
    }
}

TEST(ComponentDialog, TabVisitsBoxesThenCancelThenContinue) {
    KeyScript script("Tab\nTab\nTab\nTab\nEscape");
    CComponentDlg dialog;
    // The members start at 0; the dialog shows both boxes checked anyway.
    EXPECT_EQ(dialog.m_installHostdev, 0);
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    const std::vector<std::string> expected = {
        "[x] RFC-1514 Host Resources MIB Support  (1001)",
        "[x] RFC-1643 Ethernet 802.3 MIB Support  (1002)",
        "[[ Cancel Installation ]]  (1011)",
        "[[ Continue ]]  (1010)",
        "[x] RFC-1514 Host Resources MIB Support  (1001)",
    };
    EXPECT_EQ(script.FocusLines(), expected);
    // Off the buttons, Continue is the one Enter presses.
    EXPECT_NE(script.output().find("    [[ Continue ]]  (1010)"), std::string::npos);
}

TEST(ComponentDialog, ShowsBothBoxesCheckedWhateverTheMembersHeld) {
    KeyScript script("Enter");
    CComponentDlg dialog;
    dialog.m_installHostdev = 0;
    dialog.m_installEthstat = 7;
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(dialog.m_installHostdev, 1);
    EXPECT_EQ(dialog.m_installEthstat, 1);
}

TEST(ComponentDialog, AnUnknownKeyNameEndsTheScriptThere) {
    testing::internal::CaptureStderr();
    KeyScript script("Space\nEntr\nEnter\n");
    CComponentDlg dialog;
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("key script line 2: \"Entr\" is not a key name"), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(script.output().find("key: Escape (end of key script)"), std::string::npos);
}

// ---- The replace and restart dialogs. ---------------------------------------------------

struct ButtonCase {
    const char *keys;
    INT_PTR result;
};

TEST(ReplaceDialog, ReplaceIsTheDefaultAndEscapeCancels) {
    const ButtonCase cases[] = {
        {"Enter", 1}, {"Space", 1}, {"Tab\nEnter", 2}, {"Right\nSpace", 2}, {"Escape", 2}, {"", 2},
    };
    for (const ButtonCase &c : cases) {
        SCOPED_TRACE(c.keys);
        KeyScript script(c.keys);
        CReplaceDlg dialog;
        EXPECT_EQ(dialog.DoModal(), c.result);
    }
}

TEST(RestartDialog, RestartIsTheDefaultAndTheLettersPressTheirButtons) {
    const ButtonCase cases[] = {
        {"Enter", 1},  {"Alt+R", 1},      {"r", 1},      {"Alt+D", 2},
        {"D", 2},      {"Tab\nEnter", 2}, {"Tab\nR", 1}, {"Shift+Tab\nSpace", 2},
        {"Escape", 2}, {"", 2},
    };
    for (const ButtonCase &c : cases) {
        SCOPED_TRACE(c.keys);
        KeyScript script(c.keys);
        CRestartDlg dialog;
        EXPECT_EQ(dialog.DoModal(), c.result);
    }
}

TEST(Dialogs, ATemplateThatIsNotThereCannotBeShown) {
    KeyScript script("Enter");
    CDialog dialog(999);
    testing::internal::CaptureStderr();
    EXPECT_EQ(dialog.DoModal(), -1);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("no dialog template 999"),
              std::string::npos);
}

// ---- Message boxes. --------------------------------------------------------------------

TEST(MessageBox, ButtonsAndEscape) {
    struct Case {
        UINT type;
        const char *keys;
        int result;
    };
    const Case cases[] = {
        {MB_OK | MB_ICONHAND, "Enter", IDOK},
        {MB_OK | MB_ICONHAND, "Escape", IDOK},  // the only button
        {MB_OK | MB_ICONHAND, "", IDOK},
        {MB_OKCANCEL | MB_ICONINFORMATION, "Enter", IDOK},
        {MB_OKCANCEL | MB_ICONINFORMATION, "Space", IDOK},
        {MB_OKCANCEL | MB_ICONINFORMATION, "Tab\nEnter", IDCANCEL},
        {MB_OKCANCEL | MB_ICONINFORMATION, "Escape", IDCANCEL},
        {MB_OKCANCEL | MB_ICONINFORMATION, "", IDCANCEL},
        {4 /* Yes and No: not offered */, "Enter", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.keys);
        KeyScript script(c.keys);
        EXPECT_EQ(MessageBoxA(nullptr, "line one\n line two", "Caption", c.type), c.result);
    }
    KeyScript script("Enter");
    MessageBoxA(nullptr, "line one\n line two", "Caption", MB_OKCANCEL | MB_ICONINFORMATION);
    EXPECT_EQ(script.output(),
              "[message box, information icon] Caption\n"
              "    line one\n"
              "     line two\n"
              "  > [[ OK ]]\n"
              "    [ Cancel ]\n"
              "key: Enter\n"
              "[message box] ended with 1 (OK)\n");
}

// ---- Templates and their layout. --------------------------------------------------------

TEST(Resources, TemplatesHoldTheirStylesAndStrings) {
    nt::ui::SetResources(&kSetupResources);
    struct Expected {
        UINT id;
        short cx, cy;
        std::vector<int> ids;
    };
    const Expected dialogs[] = {
        {130, 206, 58, {1008, 1009, -1, -1, -1}},
        {131, 217, 88, {1001, 1002, 1011, 1010, -1, -1}},
        {134, 217, 63, {1013, 1014, -1, -1, -1}},
    };
    for (const Expected &expected : dialogs) {
        SCOPED_TRACE(expected.id);
        const nt::ui::DialogTemplate *dialog = nt::ui::FindDialogTemplate(expected.id);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->style, 0x90C000C0u);
        EXPECT_EQ(dialog->exStyle, 0u);
        EXPECT_EQ(dialog->x, 0);
        EXPECT_EQ(dialog->y, 0);
        EXPECT_EQ(dialog->cx, expected.cx);
        EXPECT_EQ(dialog->cy, expected.cy);
        EXPECT_STREQ(dialog->caption, "Veltrix SNMP Installation");
        EXPECT_STREQ(dialog->fontName, "MS Sans Serif");
        EXPECT_EQ(dialog->pointSize, 8);
        ASSERT_EQ(dialog->itemCount, expected.ids.size());
        for (size_t i = 0; i < dialog->itemCount; ++i) {
            const nt::ui::DialogItemTemplate &item = dialog->items[i];
            EXPECT_EQ(item.id, expected.ids[i]);
            const bool text = std::string(item.windowClass) == "STATIC";
            const bool isDefault = item.id == 1010 || item.id == 1013 || item.id == 1008;
            const bool check = item.id == 1001 || item.id == 1002;
            EXPECT_EQ(item.style, text        ? 0x50020000u
                                  : check     ? 0x50010003u
                                  : isDefault ? 0x50010001u
                                              : 0x50010000u)
                << item.id;
            EXPECT_EQ(item.cy, text ? 8 : check ? 10 : 14);
        }
    }
    EXPECT_EQ(nt::ui::FindDialogTemplate(132), nullptr);
    char title[64];
    for (UINT id : {57344u, 128u}) {
        ASSERT_GT(LoadStringA(nullptr, id, title, sizeof title), 0);
        EXPECT_STREQ(title, "Veltrix SNMP Extension Agent Setup");
    }
    EXPECT_EQ(LoadStringA(nullptr, 129, title, sizeof title), 0);
}

// In every window, controls on one row never overlap, leave a column for
// the focus mark, and lie inside the frame.
TEST(Layout, ControlsDoNotOverlapAndFitTheFrame) {
    nt::ui::SetResources(&kSetupResources);
    std::vector<nt::ui::Window> windows;
    for (UINT id : {130u, 131u, 134u}) {
        windows.push_back(nt::ui::Window::FromTemplate(*nt::ui::FindDialogTemplate(id)));
    }
    windows.push_back(nt::ui::Window::MessageBox(
        "Setup will now stop the Extensible SNMP Agent.\n Click OK to continue, or CANCEL to "
        "exit setup.",
        "Veltrix SNMP Installation", MB_OKCANCEL | MB_ICONINFORMATION, 0));
    windows.push_back(
        nt::ui::Window::MessageBox(std::string(300, 'w') + " word", "c", MB_OK | MB_ICONHAND, 40));
    for (const nt::ui::Window &window : windows) {
        SCOPED_TRACE(window.kind);
        for (size_t i = 0; i < window.controls.size(); ++i) {
            const nt::ui::Control &a = window.controls[i];
            EXPECT_GE(a.col, 1);
            EXPECT_LE(a.col + a.width, window.cols) << a.text;
            EXPECT_LT(a.row, window.rows) << a.text;
            for (size_t j = i + 1; j < window.controls.size(); ++j) {
                const nt::ui::Control &b = window.controls[j];
                if (a.row != b.row) {
                    continue;
                }
                const nt::ui::Control &left = a.col < b.col ? a : b;
                const nt::ui::Control &right = a.col < b.col ? b : a;
                EXPECT_GE(right.col, left.col + left.width + 2) << left.text << " / " << right.text;
            }
        }
    }
}

}  // namespace
