// Key names of key scripts; see keys.h.
#include "keys.h"

#include <cctype>
#include <strings.h>

namespace nt {
namespace ui {

namespace {

struct NamedKey {
    const char *name;
    Key::Code code;
};

// The first name of each code is the one KeyName gives.
constexpr NamedKey kNames[] = {
    {"Enter", Key::kEnter},      {"Return", Key::kEnter}, {"Escape", Key::kEscape},
    {"Esc", Key::kEscape},       {"Tab", Key::kTab},      {"Shift+Tab", Key::kShiftTab},
    {"BackTab", Key::kShiftTab}, {"Space", Key::kSpace},  {"Up", Key::kUp},
    {"Down", Key::kDown},        {"Left", Key::kLeft},    {"Right", Key::kRight},
};

bool IsLetterKey(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

}  // namespace

bool ParseKeyName(const std::string &name, Key *key) {
    for (const NamedKey &named : kNames) {
        if (strcasecmp(name.c_str(), named.name) == 0) {
            *key = Key{named.code, 0, false};
            return true;
        }
    }
    if (name.size() == 1 && IsLetterKey(name[0])) {
        *key = Key{Key::kLetter, Upper(name[0]), false};
        return true;
    }
    if (name.size() == 5 && strncasecmp(name.c_str(), "Alt+", 4) == 0 && IsLetterKey(name[4])) {
        *key = Key{Key::kAltLetter, Upper(name[4]), false};
        return true;
    }
    return false;
}

std::string KeyName(const Key &key) {
    switch (key.code) {
        case Key::kLetter: return std::string(1, key.letter);
        case Key::kAltLetter: return std::string("Alt+") + key.letter;
        case Key::kNone: return "(no key)";
        default: break;
    }
    for (const NamedKey &named : kNames) {
        if (named.code == key.code) {
            return named.name;
        }
    }
    return "(no key)";
}

}  // namespace ui
}  // namespace nt
