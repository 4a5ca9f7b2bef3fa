// The keys a modal window takes, and their names in a key script.
#ifndef PLATFORM_UI_KEYS_H
#define PLATFORM_UI_KEYS_H

#include <string>

namespace nt {
namespace ui {

struct Key {
    enum Code {
        kNone,  // a key that does nothing here
        kEnter,
        kEscape,
        kTab,
        kShiftTab,
        kSpace,
        kUp,
        kDown,
        kLeft,
        kRight,
        kLetter,     // letter, alone
        kAltLetter,  // letter with Alt
    };
    Code code = kNone;
    char letter = 0;  // upper case, for kLetter and kAltLetter
    // Set when no key was read (the script ran out, the terminal closed):
    // the window is to end as Escape would end it.
    bool endOfInput = false;
};

// The key a script line names ("Enter", "Shift+Tab", "Alt+R", "r"; any
// case, "Esc" and "Return" too). False when it names none.
bool ParseKeyName(const std::string &name, Key *key);

// The key's name as a script writes it.
std::string KeyName(const Key &key);

}  // namespace ui
}  // namespace nt

#endif  // PLATFORM_UI_KEYS_H
