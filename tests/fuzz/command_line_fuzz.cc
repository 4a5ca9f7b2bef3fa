// Fuzz target of the command-line splitter (CreateProcessA's, which NET
// also uses for a service's image path).
//
// Input: a command line. Contract:
//  - any line splits without fault, into words without NUL unless the line
//    had one;
//  - arguments quoted as NT's C runtime expects split back to themselves:
//    the line's own words, quoted again, and arguments made from the input
//    (every byte possible, blanks, quotes and backslashes included).
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "processes.h"

namespace {

const char Target[] = "command line";

// The program name: quoted when it holds a blank or is empty; it cannot
// hold a quote.
std::string QuoteProgram(const std::string &program) {
    if (!program.empty() && program.find_first_of(" \t") == std::string::npos) {
        return program;
    }
    return "\"" + program + "\"";
}

// An argument as NT's C runtime reads it back: quoted when it holds a blank
// or a quote or is empty, backslashes doubled before a quote.
std::string QuoteArgument(const std::string &argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) {
        return argument;
    }
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            quoted.append(2 * backslashes + 1, '\\');
        } else {
            quoted.append(backslashes, '\\');
        }
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, '\\');
    return quoted + "\"";
}

std::string Join(const std::vector<std::string> &words) {
    std::string line;
    for (size_t i = 0; i < words.size(); ++i) {
        line += i == 0 ? QuoteProgram(words[0]) : " " + QuoteArgument(words[i]);
    }
    return line;
}

void CheckRoundTrip(const std::vector<std::string> &words, const std::string &origin) {
    const std::string line = Join(words);
    if (nt::SplitCommandLine(line) != words) {
        fuzz::Violation(Target,
                        "the quoted line [" + line + "] does not split back (" + origin + ")");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string line(reinterpret_cast<const char *>(data), size);
    const std::vector<std::string> words = nt::SplitCommandLine(line);
    const bool hasNul = line.find('\0') != std::string::npos;
    for (const std::string &word : words) {
        if (!hasNul && word.find('\0') != std::string::npos) {
            fuzz::Violation(Target, "a NUL appeared in a word");
        }
    }
    if (!words.empty() && words[0].find('"') == std::string::npos) {
        CheckRoundTrip(words, "the line's own words");
    }

    // Arguments from the input: the bytes split at each NUL.
    std::vector<std::string> made{"C:\\Program Files\\x.exe"};
    std::string argument;
    for (char c : line) {
        if (c == '\0') {
            made.push_back(argument);
            argument.clear();
        } else {
            argument += c;
        }
    }
    made.push_back(argument);
    CheckRoundTrip(made, "arguments made from the input");
    return 0;
}

namespace {

const char *const Pieces[] = {
    "\"",     "\"\"",
    "\"\"\"", "\\",
    "\\\\",   "\\\"",
    "\\\\\"", "\\\\\\\"",
    " ",      "\t",
    "  ",     "a",
    "b c",    "C:\\Program Files\\",
    "x.exe",  "/usr/bin/snmpsvc",
    "run",    "-f",
    "%PATH%",
};

}  // namespace

std::string GenerateFuzzInput(std::mt19937 &random) {
    std::string line;
    const size_t pieces = random() % 12;
    for (size_t i = 0; i < pieces; ++i) {
        if (random() % 10 == 0) {
            line += '\0';
        } else {
            line += Pieces[random() % (sizeof Pieces / sizeof Pieces[0])];
        }
    }
    return line;
}
