// Choosing the screen, the modal loop and the script screen; see screen.h.
#include "screen.h"

#include <algorithm>
#include <cerrno>
#include <iostream>
#include <memory>
#include <string>
#include <unistd.h>

namespace nt {
namespace ui {

namespace {

// Keys from a script, windows as text.
class ScriptScreen : public Screen {
public:
    ScriptScreen(std::istream *keys, std::ostream *output) : keys_(keys), output_(output) {}

    bool Begin() override { return true; }
    int Width() override { return 0; }
    bool Holds(const Window &, std::string *) override { return true; }

    Key NextKey(const Window &window) override {
        Print(window);
        Key key;
        const WindowState state = StateOf(window);
        if (keysTaken_ > 0 && state == lastState_) {
            ++idleKeys_;
        } else {
            idleKeys_ = 0;
        }
        lastState_ = state;
        if (!stopped_ && idleKeys_ >= kIdleKeys) {
            Stop(std::to_string(kIdleKeys) + " keys in a row did nothing in the " + window.kind);
        } else if (!stopped_ && keysTaken_ >= kKeysPerWindow) {
            Stop("the " + window.kind + " has taken " + std::to_string(kKeysPerWindow) +
                 " keys without ending");
        }
        key = ReadKey();
        ++keysTaken_;
        *output_ << "key: " << KeyName(key);
        if (key.endOfInput) {
            *output_ << " (end of key script)";
        }
        *output_ << '\n';
        output_->flush();
        return key;
    }

    void End(const Window &window, INT_PTR result) override {
        keysTaken_ = 0;
        idleKeys_ = 0;
        *output_ << '[' << window.kind << "] ended with " << ResultName(window, result) << '\n';
        output_->flush();
    }

private:
    // The next key of the script, or Escape marked endOfInput once it has
    // run out or stopped.
    Key ReadKey() {
        std::string line;
        int skipped = 0;
        while (!stopped_ && std::getline(*keys_, line)) {
            ++lineNumber_;
            const std::string::size_type hash = line.find('#');
            if (hash != std::string::npos) {
                line.erase(hash);
            }
            const std::string::size_type first = line.find_first_not_of(" \t\r");
            if (first == std::string::npos) {
                if (++skipped >= kSkippedLines) {
                    Stop(std::to_string(kSkippedLines) + " blank or comment lines in a row");
                }
                continue;
            }
            const std::string name = line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
            Key key;
            if (ParseKeyName(name, &key)) {
                return key;
            }
            Stop("\"" + name + "\" is not a key name");
        }
        stopped_ = true;
        Key escape;
        escape.code = Key::kEscape;
        escape.endOfInput = true;
        return escape;
    }

    // Ends the script at the current line, saying why on standard error.
    void Stop(const std::string &why) {
        std::cerr << ProgramName() << ": key script line " << lineNumber_ << ": " << why
                  << "; the rest of the script is not used\n";
        stopped_ = true;
    }

    // What a key can change in a window: the focus and the check boxes. A
    // key that ends the window or clicks a button that acts ends the window
    // or changes this.
    struct WindowState {
        int focus = -1;
        std::vector<int> checks;
        bool operator==(const WindowState &other) const {
            return focus == other.focus && checks == other.checks;
        }
    };
    static WindowState StateOf(const Window &window) {
        WindowState state;
        state.focus = window.focus;
        for (const Control &control : window.controls) {
            state.checks.push_back(control.check);
        }
        return state;
    }

    void Print(const Window &window) {
        *output_ << '[' << window.kind;
        if (window.icon == MB_ICONHAND) {
            *output_ << ", stop icon";
        } else if (window.icon == MB_ICONINFORMATION) {
            *output_ << ", information icon";
        }
        *output_ << "] " << window.caption << '\n';
        // Top to bottom, left to right, as the window shows them.
        std::vector<size_t> order;
        for (size_t i = 0; i < window.controls.size(); ++i) {
            if (window.controls[i].visible) {
                order.push_back(i);
            }
        }
        std::stable_sort(order.begin(), order.end(), [&window](size_t a, size_t b) {
            const Control &x = window.controls[a];
            const Control &y = window.controls[b];
            return x.row != y.row ? x.row < y.row : x.col < y.col;
        });
        const int enter = window.EnterTarget();
        for (size_t index : order) {
            const Control &control = window.controls[index];
            const bool enterPresses = control.kind == Control::kPushButton && control.id == enter;
            *output_ << (static_cast<int>(index) == window.focus ? "  > " : "    ")
                     << control.Label(enterPresses, 0, nullptr);
            if (control.kind != Control::kStatic && !window.messageBox) {
                *output_ << "  (" << control.id << ')';
            }
            if (control.mnemonic != 0) {
                *output_ << "  Alt+" << control.mnemonic;
            }
            *output_ << '\n';
        }
    }

    // A script that has stopped moving (a line repeated that does nothing,
    // as `yes` gives) or that no window can use up ends here, so no script
    // keeps setup reading or printing without end.
    static constexpr int kIdleKeys = 5;         // keys in a row that change nothing
    static constexpr int kKeysPerWindow = 100;  // keys one window takes at most
    static constexpr int kSkippedLines = 1000;  // blank or comment lines in a row

    std::istream *keys_;
    std::ostream *output_;
    int lineNumber_ = 0;
    bool stopped_ = false;
    int keysTaken_ = 0;  // by the window now shown
    int idleKeys_ = 0;
    WindowState lastState_;
};

std::unique_ptr<Screen> &Override() {
    static std::unique_ptr<Screen> *screen = new std::unique_ptr<Screen>;
    return *screen;
}

}  // namespace

const char *ProgramName() { return program_invocation_short_name; }

std::string ResultName(const Window &window, INT_PTR result) {
    std::string name = std::to_string(result);
    if (result == IDOK) {
        name += window.messageBox ? " (OK)" : " (IDOK)";
    } else if (result == IDCANCEL) {
        name += window.messageBox ? " (Cancel)" : " (IDCANCEL)";
    }
    return name;
}

Screen &CurrentScreen() {
    if (Override()) {
        return *Override();
    }
    if (isatty(0) == 1) {
        return *TerminalScreen();
    }
    static ScriptScreen *standardInput = new ScriptScreen(&std::cin, &std::cout);
    return *standardInput;
}

void UseKeyScript(std::istream *keys, std::ostream *output) {
    if (keys == nullptr || output == nullptr) {
        Override().reset();
    } else {
        Override().reset(new ScriptScreen(keys, output));
    }
}

void RunModal(Screen &screen, Window &window, const std::function<void(int id)> &onClick,
              const std::function<bool()> &ended, const std::function<void()> &cancel) {
    while (!ended()) {
        const Key key = screen.NextKey(window);
        const Click click = window.HandleKey(key);
        if (click.happened) {
            onClick(click.id);
        }
        if (key.endOfInput && !ended()) {
            cancel();
        }
    }
}

}  // namespace ui
}  // namespace nt
