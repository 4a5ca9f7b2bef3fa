// Fuzz target of the key-name reader of the dialog framework: a key script
// (the input, as text) read by the script screen while a message box is up.
//
// Contract, on any script:
//  - every key read names itself: KeyName of it parses back to the same key,
//    in any case;
//  - each key takes at least one line of the script, so a window ends after
//    at most one key more than the script has lines (the end of the script
//    reads as Escape), and once the script has ended or stopped at a line
//    that names no key it stays ended;
//  - the window's keys run without fault.
#include <cctype>
#include <iostream>
#include <sstream>
#include <string>

#include "fuzz_support.h"
#include "screen.h"
#include "window.h"

namespace {

using nt::ui::Key;

const char Target[] = "key script";

bool SameKey(const Key &a, const Key &b) { return a.code == b.code && a.letter == b.letter; }

void CheckNames(const Key &key) {
    const std::string name = nt::ui::KeyName(key);
    for (int variant = 0; variant < 3; ++variant) {
        std::string text = name;
        for (char &c : text) {
            const unsigned char u = static_cast<unsigned char>(c);
            c = static_cast<char>(variant == 0   ? u
                                  : variant == 1 ? std::tolower(u)
                                                 : std::toupper(u));
        }
        Key again;
        if (!nt::ui::ParseKeyName(text, &again) || !SameKey(again, key)) {
            fuzz::Violation(Target, "the key name \"" + text + "\" does not read back");
        }
    }
}

// A stream buffer that takes everything and keeps nothing.
class Discard : public std::streambuf {
protected:
    int overflow(int c) override { return c; }
    std::streamsize xsputn(const char *, std::streamsize n) override { return n; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string script(reinterpret_cast<const char *>(data), size);
    size_t lines = 0;
    for (char c : script) {
        lines += c == '\n';
    }
    lines += !script.empty() && script.back() != '\n';

    static Discard discard;
    std::istringstream keys(script);
    std::ostream output(&discard);
    std::streambuf *const standardError = std::cerr.rdbuf(&discard);
    nt::ui::UseKeyScript(&keys, &output);
    nt::ui::Screen &screen = nt::ui::CurrentScreen();

    nt::ui::Window window = nt::ui::Window::MessageBox("Setup could not &copy the file.\nRetry?",
                                                       "Setup", MB_OKCANCEL, 0);
    size_t read = 0;
    bool ended = false;
    for (;;) {
        const Key key = screen.NextKey(window);
        if (ended && !key.endOfInput) {
            fuzz::Violation(Target, "a key was read after the script ended");
        }
        if (key.endOfInput) {
            if (key.code != Key::kEscape) {
                fuzz::Violation(Target, "the end of the script is not Escape");
            }
            if (ended) {
                break;  // asked once more after the end: still the end
            }
            ended = true;
        } else {
            ++read;
            if (read > lines) {
                fuzz::Violation(Target, "more keys than the script has lines");
            }
            CheckNames(key);
        }
        window.HandleKey(key);
    }

    nt::ui::UseKeyScript(nullptr, nullptr);
    std::cerr.rdbuf(standardError);
    return 0;
}

namespace {

const char *const KeyNames[] = {
    "Enter", "return", "ESC",    "Escape", "Tab", "shift+tab", "BackTab", "Space", "Up",
    "Down",  "Left",   "Right",  "r",      "C",   "7",         "Alt+R",   "alt+c", "ALT+9",
    "Alt+",  "Alt+RR", "Shift+", "Enterr", "",    "é",         "Alt+é",
};
const char *const Blanks[] = {"", " ", "\t", "\r", " \t "};
const char *const Tails[] = {"", "", "  # comment", "#", " # Enter"};
const char *const LineEnds[] = {"\n", "\n", "\r\n", "\n\n"};

template <class T, size_t N>
const T &Pick(std::mt19937 &random, const T (&list)[N]) {
    return list[random() % N];
}

}  // namespace

std::string GenerateFuzzInput(std::mt19937 &random) {
    std::string script;
    const size_t lines = random() % 10;
    for (size_t i = 0; i < lines; ++i) {
        std::string line = std::string(Pick(random, Blanks)) + Pick(random, KeyNames) +
                           Pick(random, Blanks) + Pick(random, Tails);
        if (random() % 8 == 0) {
            line.insert(random() % (line.size() + 1), 1, static_cast<char>(random() % 256));
        }
        script += line;
        if (i + 1 < lines || random() % 2 == 0) {
            script += Pick(random, LineEnds);
        }
    }
    return script;
}
