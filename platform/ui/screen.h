// Where modal windows appear and where their keys come from.
//
// The terminal screen draws with ncurses and reads the keyboard; it holds
// the terminal only while a window is up, and gives it back (endwin)
// between windows, so a program run in between writes to it as usual. The
// script screen reads one key name a line and prints each window as text.
#ifndef PLATFORM_UI_SCREEN_H
#define PLATFORM_UI_SCREEN_H

#include <functional>
#include <iosfwd>
#include <string>

#include "keys.h"
#include "window.h"

namespace nt {
namespace ui {

class Screen {
public:
    virtual ~Screen() = default;
    // Takes the screen for a window; false (with a line on standard error)
    // when nothing can be shown.
    virtual bool Begin() = 0;
    // The width that message box text is wrapped to; 0 for no limit.
    virtual int Width() = 0;
    // Whether window fits the screen as it is now; false with *why saying
    // how large it is and how large it should be.
    virtual bool Holds(const Window &window, std::string *why) = 0;
    // Shows window as it is now and returns the next key for it.
    virtual Key NextKey(const Window &window) = 0;
    // The window has ended with result; the screen is given back.
    virtual void End(const Window &window, INT_PTR result) = 0;
};

// The screen of this process: the terminal when standard input is one,
// else the key script on standard input with text on standard output.
Screen &CurrentScreen();

// Makes keys the key script and output the text of every window from now
// on (for tests); the streams must outlive their use. Null for both goes
// back to the screen standard input gives.
void UseKeyScript(std::istream *keys, std::ostream *output);

// Runs window until ended() says it has ended: each key goes to the window,
// and each click it reports to onClick. When no key can be read any more
// (endOfInput) and the Escape given in its place has not ended the window,
// cancel() ends it, so a window never waits for keys that cannot come.
void RunModal(Screen &screen, Window &window, const std::function<void(int id)> &onClick,
              const std::function<bool()> &ended, const std::function<void()> &cancel);

// The program's name for lines on standard error.
const char *ProgramName();

// Pieces of the screens, in their own files.
Screen *TerminalScreen();
std::string ResultName(const Window &window, INT_PTR result);

}  // namespace ui
}  // namespace nt

#endif  // PLATFORM_UI_SCREEN_H
