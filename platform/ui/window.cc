// Modal windows: template layout and the dialog keys; see window.h.
#include "window.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <numeric>
#include <strings.h>

namespace nt {
namespace ui {

namespace {

constexpr int kUnitsPerColumn = 4;
constexpr int kUnitsPerRow = 8;

int CeilDiv(int value, int by) { return (value + by - 1) / by; }

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

// Lines of text: broken at line feeds, and between words past width (0:
// no limit). A word longer than width is cut.
std::vector<std::string> BreakLines(const std::string &text, int width) {
    std::vector<std::string> lines;
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? end : end - start);
        while (width > 0 && static_cast<int>(line.size()) > width) {
            std::string::size_type cut = line.rfind(' ', static_cast<size_t>(width));
            if (cut == std::string::npos || cut == 0) {
                cut = static_cast<size_t>(width);
            }
            lines.push_back(line.substr(0, cut));
            line = line.substr(cut + (line[cut] == ' ' ? 1 : 0));
        }
        lines.push_back(line);
        if (end == std::string::npos) {
            return lines;
        }
        start = end + 1;
    }
}

}  // namespace

std::string StripMnemonic(const char *text, int *at) {
    std::string result;
    *at = -1;
    for (const char *c = text; *c != '\0'; ++c) {
        if (*c == '&' && c[1] != '\0') {
            ++c;
            if (*c != '&' && *at < 0) {
                *at = static_cast<int>(result.size());
            }
        }
        result += *c;
    }
    return result;
}

std::string Control::Label(bool enterPresses, int labelWidth, int *mnemonicColumn) const {
    std::string label;
    int offset = 0;
    switch (kind) {
        case kStatic: label = text; break;
        case kCheckBox:
            label = check == BST_CHECKED ? "[x] " : check == BST_INDETERMINATE ? "[-] " : "[ ] ";
            offset = 4;
            label += text;
            break;
        case kPushButton: {
            const std::string open = enterPresses ? "[[ " : "[ ";
            const std::string close = enterPresses ? " ]]" : " ]";
            const int pad = std::max(
                0, labelWidth - static_cast<int>(open.size() + text.size() + close.size()));
            label = open + std::string(static_cast<size_t>(pad / 2), ' ') + text +
                    std::string(static_cast<size_t>(pad - pad / 2), ' ') + close;
            offset = static_cast<int>(open.size()) + pad / 2;
            break;
        }
    }
    if (mnemonicColumn != nullptr) {
        *mnemonicColumn = mnemonicAt < 0 ? -1 : offset + mnemonicAt;
    }
    return label;
}

Window Window::FromTemplate(const DialogTemplate &dialog) {
    Window window;
    window.caption = dialog.caption != nullptr ? dialog.caption : "";
    window.kind = "dialog " + std::to_string(dialog.id);
    window.centred = (dialog.style & DS_CENTER) != 0;
    for (size_t i = 0; i < dialog.itemCount; ++i) {
        const DialogItemTemplate &item = dialog.items[i];
        Control control;
        control.id = item.id;
        control.text = StripMnemonic(item.text != nullptr ? item.text : "", &control.mnemonicAt);
        if (control.mnemonicAt >= 0) {
            control.mnemonic = Upper(control.text[static_cast<size_t>(control.mnemonicAt)]);
        }
        if (item.windowClass != nullptr && strcasecmp(item.windowClass, "BUTTON") == 0) {
            const DWORD type = item.style & BS_TYPEMASK;
            if (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON) {
                control.kind = Control::kPushButton;
                control.defaultButton = type == BS_DEFPUSHBUTTON;
            } else {
                control.kind = Control::kCheckBox;
            }
        }
        control.tabStop = (item.style & WS_TABSTOP) != 0;
        control.group = (item.style & WS_GROUP) != 0;
        control.enabled = (item.style & WS_DISABLED) == 0;
        control.visible = (item.style & WS_VISIBLE) != 0;
        control.row = (item.y + item.cy / 2) / kUnitsPerRow;
        control.col = std::max(1, item.x / kUnitsPerColumn);
        const int textWidth = static_cast<int>(control.text.size());
        switch (control.kind) {
            case Control::kStatic: control.width = textWidth; break;
            case Control::kCheckBox: control.width = textWidth + 4; break;
            case Control::kPushButton:
                // Room for the "[[ text ]]" look, and at least the template's width.
                control.width =
                    std::max((item.cx + kUnitsPerColumn / 2) / kUnitsPerColumn, textWidth + 6);
                break;
        }
        if (control.defaultButton) {
            window.defaultId = control.id;
        }
        window.controls.push_back(control);
    }
    window.Layout(CeilDiv(dialog.cx, kUnitsPerColumn), CeilDiv(dialog.cy, kUnitsPerRow));
    return window;
}

// Pushes controls right where they would overlap on a row (a cell is
// narrower than the template's font), leaving a blank and a column for the
// focus mark between them, and makes the client area hold everything.
void Window::Layout(int templateCols, int templateRows) {
    std::vector<size_t> order(controls.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [this](size_t a, size_t b) {
        return controls[a].row != controls[b].row ? controls[a].row < controls[b].row
                                                  : controls[a].col < controls[b].col;
    });
    cols = templateCols;
    rows = templateRows;
    const Control *previous = nullptr;
    for (size_t index : order) {
        Control &control = controls[index];
        if (!control.visible) {
            continue;
        }
        if (previous != nullptr && previous->row == control.row) {
            control.col = std::max(control.col, previous->col + previous->width + 2);
        }
        cols = std::max(cols, control.col + control.width + 1);
        rows = std::max(rows, control.row + 1);
        previous = &control;
    }
}

Window Window::MessageBox(const std::string &text, const std::string &caption, UINT type,
                          int wrapWidth) {
    Window window;
    window.caption = caption;
    window.kind = "message box";
    window.messageBox = true;
    window.centred = true;
    const UINT icon = type & MB_ICONMASK;
    window.icon = icon == MB_ICONHAND || icon == MB_ICONINFORMATION ? icon : 0;
    const int textCol = window.icon == 0 ? 2 : 7;
    const std::vector<std::string> lines = BreakLines(text, wrapWidth);
    int widest = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        Control line;
        line.text = lines[i];
        line.row = static_cast<int>(i) + 1;
        line.col = textCol;
        line.width = static_cast<int>(lines[i].size());
        widest = std::max(widest, line.width);
        window.controls.push_back(line);
    }
    struct Button {
        int id;
        const char *text;
    };
    std::vector<Button> buttons = {{IDOK, "OK"}};
    if ((type & MB_TYPEMASK) == MB_OKCANCEL) {
        buttons.push_back({IDCANCEL, "Cancel"});
    } else {
        window.escapeId = IDOK;  // Escape closes a box whose only button is OK
    }
    constexpr int kButtonWidth = 12;
    const int total = static_cast<int>(buttons.size()) * (kButtonWidth + 2) - 2;
    window.cols = std::max(textCol + widest + 2, total + 4);
    const int buttonRow = static_cast<int>(lines.size()) + 2;
    int col = (window.cols - total) / 2;
    for (const Button &button : buttons) {
        Control control;
        control.kind = Control::kPushButton;
        control.id = button.id;
        control.text = button.text;
        control.tabStop = true;
        control.defaultButton = &button == &buttons.front();
        control.row = buttonRow;
        control.col = col;
        control.width = kButtonWidth;
        col += kButtonWidth + 2;
        window.controls.push_back(control);
    }
    window.controls[lines.size()].group = true;
    window.defaultId = IDOK;
    window.rows = buttonRow + 2;
    window.FocusFirstTabStop();
    return window;
}

Control *Window::Find(int id) {
    for (Control &control : controls) {
        if (control.id == id && control.kind != Control::kStatic) {
            return &control;
        }
    }
    return nullptr;
}

const Control *Window::Find(int id) const { return const_cast<Window *>(this)->Find(id); }

void Window::FocusFirstTabStop() { focus = NextTabStop(-1, 1); }

int Window::EnterTarget() const {
    if (focus >= 0 && controls[static_cast<size_t>(focus)].kind == Control::kPushButton) {
        return controls[static_cast<size_t>(focus)].id;
    }
    return defaultId;
}

// The next focusable tab stop after from (step 1) or before it (step -1),
// wrapping; from itself when it is the only one, -1 when there is none.
int Window::NextTabStop(int from, int step) const {
    const int count = static_cast<int>(controls.size());
    int index = from >= 0 ? from : step > 0 ? -1 : count;
    for (int tried = 0; tried < count; ++tried) {
        index = ((index + step) % count + count) % count;
        const Control &control = controls[static_cast<size_t>(index)];
        if (control.tabStop && control.Focusable()) {
            return index;
        }
    }
    return from;
}

// The next focusable control of the focused control's group, wrapping
// within the group: what the arrow keys move to.
int Window::NextInGroup(int step) const {
    if (focus < 0) {
        return focus;
    }
    const int count = static_cast<int>(controls.size());
    int first = focus;
    while (first > 0 && !controls[static_cast<size_t>(first)].group) {
        --first;
    }
    int end = focus + 1;
    while (end < count && !controls[static_cast<size_t>(end)].group) {
        ++end;
    }
    const int size = end - first;
    int index = focus;
    for (int tried = 0; tried < size; ++tried) {
        index = first + ((index - first + step) % size + size) % size;
        if (controls[static_cast<size_t>(index)].Focusable()) {
            return index;
        }
    }
    return focus;
}

Click Window::Press(int index) {
    Control &control = controls[static_cast<size_t>(index)];
    if (control.kind == Control::kCheckBox) {
        control.check = control.check == BST_UNCHECKED ? BST_CHECKED : BST_UNCHECKED;
    }
    return Click{true, control.id};
}

Click Window::PressMnemonic(char letter) {
    const int count = static_cast<int>(controls.size());
    for (int step = 1; step <= count; ++step) {
        const int index = ((focus < 0 ? -1 : focus) + step + count) % count;
        const Control &control = controls[static_cast<size_t>(index)];
        if (control.mnemonic != letter || !control.visible || !control.enabled) {
            continue;
        }
        if (control.kind == Control::kStatic) {
            // A label's letter moves the focus to the control after it.
            focus = NextTabStop(index, 1);
            return Click{};
        }
        focus = index;
        return Press(index);
    }
    return Click{};  // no control has that letter: NT only beeps
}

Click Window::HandleKey(const Key &key) {
    switch (key.code) {
        case Key::kTab: focus = NextTabStop(focus, 1); break;
        case Key::kShiftTab: focus = NextTabStop(focus, -1); break;
        case Key::kDown:
        case Key::kRight: focus = NextInGroup(1); break;
        case Key::kUp:
        case Key::kLeft: focus = NextInGroup(-1); break;
        case Key::kSpace:
            if (focus >= 0) {
                return Press(focus);
            }
            break;
        case Key::kEnter: {
            const int target = EnterTarget();
            const Control *control = Find(target);
            if (control == nullptr || control->Focusable()) {
                return Click{true, target};
            }
            break;
        }
        case Key::kEscape: return Click{true, escapeId};
        case Key::kLetter:
        case Key::kAltLetter:
            // Buttons and check boxes take no letters, so a bare letter
            // works as a mnemonic wherever the focus is.
            return PressMnemonic(key.letter);
        case Key::kNone: break;
    }
    return Click{};
}

}  // namespace ui
}  // namespace nt
