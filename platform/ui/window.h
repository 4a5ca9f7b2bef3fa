// A modal window as the framework runs it: the controls of a dialog
// template (or of a message box), their state, the focus, and what each
// key does. Screens draw a Window; dialogs and message boxes act on the
// clicks that HandleKey reports.
#ifndef PLATFORM_UI_WINDOW_H
#define PLATFORM_UI_WINDOW_H

#include <string>
#include <vector>

#include "keys.h"
#include "nt/afxdialogs.h"

namespace nt {
namespace ui {

struct Control {
    enum Kind { kStatic, kPushButton, kCheckBox };
    Kind kind = kStatic;
    int id = 0;
    std::string text;     // the '&' marks taken out
    int mnemonicAt = -1;  // index of the mnemonic letter in text, or -1
    char mnemonic = 0;    // that letter in upper case
    bool tabStop = false;
    bool group = false;          // WS_GROUP: begins a group
    bool defaultButton = false;  // BS_DEFPUSHBUTTON
    bool enabled = true;
    bool visible = true;
    int check = BST_UNCHECKED;
    // Place in the client area, in character cells.
    int row = 0;
    int col = 0;
    int width = 0;

    bool Focusable() const { return kind != kStatic && enabled && visible; }

    // The control as drawn: "[x] text", "[ text ]", "[[ text ]]" when it
    // is the button Enter presses. width 0 gives the shortest form, else
    // a button's text is centred in width cells. *mnemonicColumn (when not
    // null) gets the mnemonic letter's index in the result, or -1.
    std::string Label(bool enterPresses, int width, int *mnemonicColumn) const;
};

// What a key did: a click on a control (a button, a check box), or nothing.
struct Click {
    bool happened = false;
    int id = 0;
};

class Window {
public:
    // The window of a dialog template, laid out in cells (a cell is 4 dialog
    // units wide and 8 high, controls pushed right where their text would
    // overlap).
    static Window FromTemplate(const DialogTemplate &dialog);
    // A message box: text (lines broken at line feeds, and between words at
    // wrapWidth when that is not 0), an icon, and buttons OK or OK and
    // Cancel.
    static Window MessageBox(const std::string &text, const std::string &caption, UINT type,
                             int wrapWidth);

    std::string caption;
    std::string kind;  // "dialog 131", "message box"
    bool messageBox = false;
    UINT icon = 0;  // a message box's MB_ICONHAND or MB_ICONINFORMATION
    bool centred = false;
    int rows = 0;  // client area, in cells
    int cols = 0;
    std::vector<Control> controls;  // template order: the tab order
    int focus = -1;                 // index into controls, or -1
    int defaultId = IDOK;           // the button Enter presses off a button
    int escapeId = IDCANCEL;        // the click Escape gives

    Control *Find(int id);
    const Control *Find(int id) const;
    void FocusFirstTabStop();
    // The control Enter would press now: the focused push button, else the
    // default one.
    int EnterTarget() const;
    Click HandleKey(const Key &key);

private:
    void Layout(int templateCols, int templateRows);
    int NextTabStop(int from, int step) const;
    int NextInGroup(int step) const;
    Click PressMnemonic(char letter);
    Click Press(int index);
};

// The text of a template string without its '&' marks; the index of the
// mnemonic letter goes to *at (-1 when none).
std::string StripMnemonic(const char *text, int *at);

}  // namespace ui
}  // namespace nt

#endif  // PLATFORM_UI_WINDOW_H
