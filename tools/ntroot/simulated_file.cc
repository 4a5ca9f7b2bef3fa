// Simulated adapter files; see simulated_file.h.
#include "simulated_file.h"

#include "nt/ntroot.h"
#include "nt/simulated_adapter_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ntroot {

namespace {

// "0x0002020D 5", padded, then a comment naming the statistic when the
// agent asks it.
std::string StatisticLine(uint32_t identifier, uint64_t value) {
    std::string line = IdentifierText(identifier) + " " + std::to_string(value);
    if (const AdapterStatistic *statistic = FindAdapterStatistic(identifier)) {
        line.resize(std::max<size_t>(line.size() + 2, 24), ' ');
        line += std::string("# ") + statistic->name + ": " + statistic->columnName;
    }
    return line;
}

}  // namespace

std::string NewSimulatedFile(const std::string &name, const std::vector<CounterSetting> &settings) {
    std::string text =
        "# Simulated adapter \\Device\\" + name +
        ": one NDIS statistic a line, its identifier\n"
        "# then its value (decimal, or hexadecimal after 0x); '#' starts a comment.\n"
        "# The agents read this file at every query. Change a counter with\n"
        "# 'ntroot device sim " +
        name + " STAT=VALUE', or edit the file.\n";
    auto valueOf = [&settings](uint32_t identifier) {
        uint64_t value = 0;
        for (const CounterSetting &setting : settings) {
            if (setting.identifier == identifier) {
                value = setting.value;
            }
        }
        return value;
    };
    for (const AdapterStatistic &statistic : kAdapterStatistics) {
        text += StatisticLine(statistic.identifier, valueOf(statistic.identifier)) + "\n";
    }
    std::vector<uint32_t> others;
    for (const CounterSetting &setting : settings) {
        if (FindAdapterStatistic(setting.identifier) == nullptr &&
            std::find(others.begin(), others.end(), setting.identifier) == others.end()) {
            others.push_back(setting.identifier);
            text += StatisticLine(setting.identifier, valueOf(setting.identifier)) + "\n";
        }
    }
    return text;
}

std::string EditSimulatedFile(const std::string &text, const std::vector<CounterSetting> &settings,
                              size_t *appended) {
    std::vector<bool> named(settings.size(), false);
    std::string result;
    result.reserve(text.size() + 64);
    // The lines as the platform reads them; each keeps its own line end.
    nt::SimulatedFileLine line;
    size_t position = 0;
    while (nt::NextSimulatedFileLine(text, &position, &line)) {
        // The last setting of the statistic this line names, if any.
        uint64_t identifier = 0;
        long which = -1;
        if (line.wordCount != 0 && nt::ParseStatisticNumber(line.words[0], &identifier)) {
            for (size_t i = 0; i < settings.size(); ++i) {
                if (settings[i].identifier == identifier) {
                    which = static_cast<long>(i);
                    named[i] = true;
                }
            }
        }
        if (which < 0) {
            result.append(text, line.begin, line.next - line.begin);
            continue;
        }
        const std::string value = std::to_string(settings[static_cast<size_t>(which)].value);
        const size_t first = static_cast<size_t>(line.words[0].data() - text.data());
        const size_t firstEnd = first + line.words[0].size();
        if (line.wordCount >= 2) {
            // Identifier and the spacing after it, the value, then whatever
            // followed the last word (spacing, comment, line end).
            const size_t second = static_cast<size_t>(line.words[1].data() - text.data());
            result.append(text, line.begin, second - line.begin);
            result += value;
        } else {
            result.append(text, line.begin, firstEnd - line.begin);
            result += " " + value;
        }
        result.append(text, line.wordsEnd, line.next - line.wordsEnd);
    }

    const std::string newline = text.find("\r\n") != std::string::npos ? "\r\n" : "\n";
    *appended = 0;
    for (size_t i = 0; i < settings.size(); ++i) {
        bool later = false;  // a later setting of the same statistic wins
        for (size_t j = i + 1; j < settings.size(); ++j) {
            later = later || settings[j].identifier == settings[i].identifier;
        }
        if (named[i] || later) {
            continue;
        }
        if (!result.empty() && result.back() != '\n' && result.back() != '\r') {
            result += newline;
        }
        result += StatisticLine(settings[i].identifier, settings[i].value) + newline;
        ++*appended;
    }
    return result;
}

bool ReadWholeFile(const std::string &path, std::string *text, std::string *error) {
    // Never blocks on a FIFO put in place of a file, never reads a huge one.
    constexpr size_t kLargest = 1 << 20;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        *error = std::strerror(errno);
        return false;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        *error = "not a regular file";
        close(fd);
        return false;
    }
    text->clear();
    char chunk[4096];
    for (;;) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            *error = std::strerror(errno);
            close(fd);
            return false;
        }
        if (got == 0) {
            break;
        }
        text->append(chunk, static_cast<size_t>(got));
        if (text->size() > kLargest) {
            *error = "larger than 1 MiB";
            close(fd);
            return false;
        }
    }
    close(fd);
    return true;
}

bool WriteFileWhole(const std::string &folder, const std::string &name, const std::string &text,
                    mode_t mode, bool replace, std::string *error) {
    const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        *error = "cannot write in " + folder + ": " + std::strerror(errno);
        return false;
    }
    // What killed writers left here goes first; the new temporary is locked
    // until it has its name, so that nobody takes it for one of theirs.
    nt::RemoveStaleTemporaries(dir);
    std::string temporary;
    const int fd = nt::CreateReplacementTemporary(dir, name, "ntroot", &temporary);
    if (fd < 0) {
        *error = "cannot write in " + folder + ": " + std::strerror(errno);
        close(dir);
        return false;
    }
    const std::string shown = folder + "/" + temporary;
    auto fail = [&](const std::string &what, int code) {
        *error = what + ": " + std::strerror(code);
        unlinkat(dir, temporary.c_str(), 0);
        close(fd);
        close(dir);
        return false;
    };
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote < 0) {
            return fail("cannot write " + shown, errno);
        }
        done += static_cast<size_t>(wrote);
    }
    if (fchmod(fd, mode) != 0 || fsync(fd) != 0) {
        return fail("cannot write " + shown, errno);
    }
    const std::string path = folder + "/" + name;
    if (replace) {
        if (renameat(dir, temporary.c_str(), dir, name.c_str()) != 0) {
            return fail("cannot replace " + path, errno);
        }
    } else if (renameat2(dir, temporary.c_str(), dir, name.c_str(), RENAME_NOREPLACE) != 0) {
        const int code = errno;
        if (code != EINVAL && code != ENOSYS) {
            return fail("cannot make " + path, code);
        }
        // A file system without the no-replace rename: a hard link also
        // refuses to replace an entry.
        if (linkat(dir, temporary.c_str(), dir, name.c_str(), 0) != 0) {
            return fail("cannot make " + path, errno);
        }
        unlinkat(dir, temporary.c_str(), 0);
    }
    close(fd);  // and with it the temporary's lock
    // The rename itself reaches the disk with the folder.
    fsync(dir);
    close(dir);
    return true;
}

}  // namespace ntroot
