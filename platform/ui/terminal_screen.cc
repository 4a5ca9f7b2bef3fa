// The terminal screen: modal windows drawn with ncurses.
//
// A window is drawn as a title bar with its caption, a frame, and its
// controls at their cells; the focused control is in reverse video with a
// '>' before it and the terminal's cursor on it; the button that Enter
// presses shows as "[[ text ]]"; mnemonic letters are underlined. Dialogs
// sit at the top left, as a template at 0, 0 with no owner does on NT;
// message boxes are centred. Between windows the terminal is given back
// (endwin), so a child started meanwhile writes to it normally.
//
// Keys typed before a window appears (while NET ran, say) are thrown away
// when it appears: a window only takes keys pressed while it was on the
// screen. A terminal too small for the whole window shows a notice instead
// of a part of it and takes no key until it has been made large enough, so
// no key ever acts on a control the user cannot see.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <curses.h>
#include <iostream>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>

#include "screen.h"

namespace nt {
namespace ui {

namespace {

class CursesScreen : public Screen {
public:
    bool Begin() override {
        if (failed_) {
            return false;
        }
        if (screen_ == nullptr) {
            output_ = isatty(1) == 1 ? stdout : std::fopen("/dev/tty", "w");
            if (output_ != nullptr) {
                screen_ = newterm(nullptr, output_, stdin);
            }
            if (screen_ == nullptr) {
                const char *term = std::getenv("TERM");
                std::cerr << ProgramName() << ": cannot draw on the terminal (TERM="
                          << (term != nullptr ? term : "unset") << ")\n";
                failed_ = true;
                return false;
            }
            set_term(screen_);
            cbreak();
            noecho();
            nonl();
            keypad(stdscr, TRUE);
            set_escdelay(25);
        }
        clear();     // a full repaint, also after endwin
        flushinp();  // keys typed before this window was shown are not for it
        return true;
    }

    bool Holds(const Window &window, std::string *why) override {
        struct winsize size;
        if (ioctl(STDIN_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_row == 0 || size.ws_col == 0) {
            return true;  // size unknown: drawing will tell
        }
        if (Fits(window, size.ws_row, size.ws_col)) {
            return true;
        }
        *why = Needs(window, size.ws_row, size.ws_col);
        return false;
    }

    int Width() override { return COLS > 24 ? COLS - 12 : 12; }

    Key NextKey(const Window &window) override {
        bool shown = Draw(window);
        for (;;) {
            const int c = getch();
            if (c == KEY_RESIZE) {
                shown = Draw(window);
                continue;
            }
            if (c != ERR && !shown) {
                continue;  // the window is not wholly on the screen
            }
            switch (c) {
                case ERR: return EndOfInput();  // the terminal has gone
                case '\t': return Named(Key::kTab);
                case KEY_BTAB: return Named(Key::kShiftTab);
                case ' ': return Named(Key::kSpace);
                case '\r':
                case '\n':
                case KEY_ENTER: return Named(Key::kEnter);
                case KEY_UP: return Named(Key::kUp);
                case KEY_DOWN: return Named(Key::kDown);
                case KEY_LEFT: return Named(Key::kLeft);
                case KEY_RIGHT: return Named(Key::kRight);
                case 27: {
                    // Escape alone, or Alt+letter (ESC then the letter at once).
                    timeout(50);
                    const int next = getch();
                    timeout(-1);
                    if (next == ERR) {
                        return Named(Key::kEscape);
                    }
                    if (next < 128 && std::isalnum(next)) {
                        return Letter(Key::kAltLetter, next);
                    }
                    continue;
                }
                default:
                    if (c < 128 && std::isalnum(c)) {
                        return Letter(Key::kLetter, c);
                    }
                    continue;  // a key that means nothing here
            }
        }
    }

    void End(const Window &, INT_PTR) override {
        erase();
        refresh();
        endwin();
    }

private:
    static Key Named(Key::Code code) { return Key{code, 0, false}; }
    static Key Letter(Key::Code code, int c) {
        return Key{code, static_cast<char>(std::toupper(c)), false};
    }
    static Key EndOfInput() { return Key{Key::kEscape, 0, true}; }

    // Writes text at y, x, cut at the screen's right edge.
    static void Put(int y, int x, const std::string &text, attr_t attributes) {
        if (y < 0 || y >= LINES || x < 0 || x >= COLS) {
            return;
        }
        attron(attributes);
        mvaddnstr(y, x, text.c_str(), COLS - x);
        attroff(attributes);
    }

    // Rows and columns the window takes: title bar, client rows, bottom
    // edge; frame, client columns, frame.
    static int WindowHeight(const Window &window) { return window.rows + 2; }
    static int WindowWidth(const Window &window) { return window.cols + 2; }
    static bool Fits(const Window &window, int lines, int cols) {
        return WindowHeight(window) <= lines && WindowWidth(window) <= cols;
    }
    static std::string Needs(const Window &window, int lines, int cols) {
        return "it is " + std::to_string(cols) + "x" + std::to_string(lines) + " and the " +
               window.kind + " needs " + std::to_string(WindowWidth(window)) + "x" +
               std::to_string(WindowHeight(window)) + " (columns x lines)";
    }

    // Draws the window, or, when the terminal cannot hold all of it, a
    // notice that says so; false then.
    bool Draw(const Window &window) {
        erase();
        if (!Fits(window, LINES, COLS)) {
            const std::string lines[] = {"Terminal too small:", Needs(window, LINES, COLS) + ".",
                                         "Enlarge it to go on."};
            int y = 0;
            for (const std::string &line : lines) {
                for (size_t at = 0; at < line.size() && COLS > 0; at += static_cast<size_t>(COLS)) {
                    Put(y++, 0, line.substr(at, static_cast<size_t>(COLS)), A_BOLD);
                }
            }
            curs_set(0);
            refresh();
            return false;
        }
        const int height = WindowHeight(window);
        const int width = WindowWidth(window);
        int top = 0;
        int left = 0;
        if (window.centred) {
            top = LINES > height ? (LINES - height) / 2 : 0;
            left = COLS > width ? (COLS - width) / 2 : 0;
        }
        std::string title = " " + window.caption;
        title.resize(static_cast<size_t>(width), ' ');
        Put(top, left, title, A_REVERSE);
        for (int row = 1; row <= window.rows; ++row) {
            Put(top + row, left, "|", A_NORMAL);
            Put(top + row, left + width - 1, "|", A_NORMAL);
        }
        Put(top + height - 1, left, "+" + std::string(static_cast<size_t>(width - 2), '-') + "+",
            A_NORMAL);
        if (window.icon != 0) {
            Put(top + 2, left + 3, window.icon == MB_ICONHAND ? "(X)" : "(i)", A_BOLD);
        }
        const int enter = window.EnterTarget();
        int cursorY = -1;
        int cursorX = -1;
        for (size_t i = 0; i < window.controls.size(); ++i) {
            const Control &control = window.controls[i];
            if (!control.visible) {
                continue;
            }
            const bool focused = static_cast<int>(i) == window.focus;
            const bool enterPresses = control.kind == Control::kPushButton && control.id == enter;
            int mnemonic = -1;
            const std::string label = control.Label(enterPresses, control.width, &mnemonic);
            const int y = top + 1 + control.row;
            const int x = left + 1 + control.col;
            const attr_t attributes = focused ? A_REVERSE : enterPresses ? A_BOLD : A_NORMAL;
            Put(y, x, label, attributes);
            if (mnemonic >= 0) {
                Put(y, x + mnemonic, label.substr(static_cast<size_t>(mnemonic), 1),
                    attributes | A_UNDERLINE);
            }
            if (focused) {
                Put(y, x - 1, ">", A_BOLD);
                cursorY = y;
                cursorX = x;
            }
        }
        if (cursorY >= 0 && cursorY < LINES && cursorX < COLS) {
            curs_set(1);
            move(cursorY, cursorX);
        } else {
            curs_set(0);
        }
        refresh();
        return true;
    }

    SCREEN *screen_ = nullptr;
    FILE *output_ = nullptr;
    bool failed_ = false;
};

}  // namespace

Screen *TerminalScreen() {
    static CursesScreen *screen = new CursesScreen;  // lives as long as the process
    return screen;
}

}  // namespace ui
}  // namespace nt
