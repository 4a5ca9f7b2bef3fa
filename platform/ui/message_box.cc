// MessageBoxA: a modal box on the process's screen; see nt/winuser.h.
#include <iostream>

#include "nt/win32.h"
#include "nt/winuser.h"
#include "screen.h"
#include "window.h"

extern "C" int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
    const UINT buttons = type & MB_TYPEMASK;
    if (buttons != MB_OK && buttons != MB_OKCANCEL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::string message = text != nullptr ? text : "";
    const std::string title = caption != nullptr ? caption : "Error";
    nt::ui::Screen &screen = nt::ui::CurrentScreen();
    if (!screen.Begin()) {
        // No box can be shown: at least the words reach the user.
        std::string line = message;
        for (char &c : line) {
            c = c == '\n' ? ' ' : c;
        }
        std::cerr << nt::ui::ProgramName() << ": " << title << ": " << line << '\n';
        return 0;
    }
    nt::ui::Window window = nt::ui::Window::MessageBox(message, title, type, screen.Width());
    bool ended = false;
    int result = 0;
    auto end = [&ended, &result](int id) {
        ended = true;
        result = id;
    };
    nt::ui::RunModal(
        screen, window,
        [&end](int id) {
            if (id == IDOK || id == IDCANCEL) {
                end(id);
            }
        },
        [&ended] { return ended; }, [&end, &window] { end(window.escapeId); });
    screen.End(window, result);
    return result;
}
