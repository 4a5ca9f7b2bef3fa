// snmp_load: a load generator for an SNMP agent, on Net-SNMP's client
// library.
//
// It walks the agent's MIB with GETNEXT (or GETBULK), starting over at the
// start name whenever a walk ends, until it has had the number of answers
// asked for, and reports requests per second, latency percentiles, errors
// and time-outs, and the resident memory of the agent's process before and
// after (with --pid). Each of the --outstanding slots is a walk of its own
// with one request in flight, driven by the library's asynchronous API on
// one thread, so the same program measures our service and the system's
// snmpd alike.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <memory>
#include <string>
#include <sys/select.h>
#include <vector>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

namespace {

using Clock = std::chrono::steady_clock;

const char Usage[] =
    "Usage: snmp_load [--requests N] [--version 1|2c] [--community C] [--start OID]\n"
    "                 [--bulk R | --get] [--subtree] [--outstanding N] [--timeout MS]\n"
    "                 [--pid PID] ADDRESS\n"
    "\n"
    "Walks the agent at ADDRESS (e.g. udp:127.0.0.1:1161) with GETNEXT, or with\n"
    "GETBULK of max-repetitions R, starting over at OID (default .1) whenever a\n"
    "walk ends, until N answers (default 1000000) came. Reports requests per\n"
    "second, latency percentiles, errors and time-outs, and with --pid the\n"
    "resident memory of the agent's process before and after. --outstanding\n"
    "runs that many walks at once (default 1); --timeout is per request, in ms,\n"
    "before its one retry (default 1000). --subtree ends a walk where it leaves\n"
    "OID's subtree (to walk one table); --get sends GETs of OID instead of walks.\n"
    "With --pid, the agent's open descriptors are counted before and after too,\n"
    "and its CPU time per request is read from /proc/PID/schedstat.\n";

struct Options {
    std::string address;
    long requests = 1000000;
    long version = SNMP_VERSION_2c;
    std::string community = "public";
    std::string start = ".1";
    long bulk = 0;
    long outstanding = 1;
    long timeoutMs = 1000;
    long pid = 0;
    bool subtree = false;  // a walk ends where it leaves the start's subtree
    bool get = false;      // GETs of the start name instead of walks
};

struct Load;

// One walk with one request in flight.
struct Slot {
    Load *load = nullptr;
    std::vector<oid> cursor;
    Clock::time_point sent;
};

struct Load {
    Options options;
    std::vector<oid> start;
    netsnmp_session *session = nullptr;
    long sent = 0;      // requests sent
    long answered = 0;  // responses received
    long bindings = 0;  // bindings received
    long walks = 0;     // walks that reached the end of the MIB
    long errors = 0;    // responses with an error status other than the end
    long timeouts = 0;
    long inFlight = 0;
    bool failed = false;
    std::vector<uint32_t> latencyUs;
};

long OpenDescriptors(long pid) {
    const std::string dir = "/proc/" + std::to_string(pid) + "/fd";
    DIR *folder = opendir(dir.c_str());
    if (folder == nullptr) {
        return -1;
    }
    long count = 0;
    while (const struct dirent *entry = readdir(folder)) {
        count += entry->d_name[0] != '.';
    }
    closedir(folder);
    return count;
}

// Nanoseconds the process has run on a CPU (the first field of
// /proc/PID/schedstat: its main thread, which is all of a single-threaded
// agent); -1 when unknown.
long long CpuNs(long pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/schedstat");
    long long ns = -1;
    stat >> ns;
    return stat ? ns : -1;
}

long ResidentKb(long pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 6, "VmRSS:") == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

int OnResponse(int operation, netsnmp_session *, int, netsnmp_pdu *pdu, void *magic);

// Sends the slot's next request, unless enough have been sent.
void Send(Slot *slot) {
    Load &load = *slot->load;
    if (load.sent >= load.options.requests || load.failed) {
        return;
    }
    netsnmp_pdu *request = snmp_pdu_create(load.options.get        ? SNMP_MSG_GET
                                           : load.options.bulk > 0 ? SNMP_MSG_GETBULK
                                                                   : SNMP_MSG_GETNEXT);
    if (load.options.bulk > 0) {
        request->non_repeaters = 0;
        request->max_repetitions = load.options.bulk;
    }
    snmp_add_null_var(request, slot->cursor.data(), slot->cursor.size());
    slot->sent = Clock::now();
    if (snmp_async_send(load.session, request, OnResponse, slot) == 0) {
        snmp_perror("snmp_load: send");
        snmp_free_pdu(request);
        load.failed = true;
        return;
    }
    ++load.sent;
    ++load.inFlight;
}

int OnResponse(int operation, netsnmp_session *, int, netsnmp_pdu *pdu, void *magic) {
    auto *slot = static_cast<Slot *>(magic);
    Load &load = *slot->load;
    --load.inFlight;
    if (operation != NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE || pdu == nullptr) {
        ++load.timeouts;
        slot->cursor = load.start;
        Send(slot);
        return 1;
    }
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - slot->sent);
    load.latencyUs.push_back(
        static_cast<uint32_t>(std::min<long long>(elapsed.count(), UINT32_MAX)));
    ++load.answered;
    bool ended = false;
    if (pdu->errstat == SNMP_ERR_NOSUCHNAME) {
        ended = true;  // SNMPv1: past the last object
    } else if (pdu->errstat != SNMP_ERR_NOERROR) {
        ++load.errors;
        ended = true;
    } else {
        const netsnmp_variable_list *last = nullptr;
        for (const netsnmp_variable_list *var = pdu->variables; var != nullptr;
             var = var->next_variable) {
            ++load.bindings;
            last = var;
            if (var->type == SNMP_ENDOFMIBVIEW || var->type == SNMP_NOSUCHOBJECT ||
                var->type == SNMP_NOSUCHINSTANCE) {
                ended = true;
                break;
            }
            if (load.options.subtree &&
                (var->name_length < load.start.size() ||
                 std::memcmp(var->name, load.start.data(), load.start.size() * sizeof(oid)) != 0)) {
                ended = true;
                break;
            }
        }
        if (last == nullptr || load.options.get) {
            ended = true;
        } else if (!ended) {
            slot->cursor.assign(last->name, last->name + last->name_length);
        }
    }
    if (ended) {
        ++load.walks;
        slot->cursor = load.start;
    }
    Send(slot);
    return 1;
}

bool ParseArgs(int argc, char **argv, Options *options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        auto number = [&](long *out) {
            char *end = nullptr;
            *out = std::strtol(argv[++i], &end, 10);
            return *end == '\0' && *out > 0;
        };
        if (arg == "-h" || arg == "--help") {
            std::fputs(Usage, stdout);
            std::exit(0);
        } else if (arg == "--requests" && hasValue) {
            if (!number(&options->requests)) return false;
        } else if (arg == "--bulk" && hasValue) {
            if (!number(&options->bulk)) return false;
        } else if (arg == "--outstanding" && hasValue) {
            if (!number(&options->outstanding)) return false;
        } else if (arg == "--timeout" && hasValue) {
            if (!number(&options->timeoutMs)) return false;
        } else if (arg == "--pid" && hasValue) {
            if (!number(&options->pid)) return false;
        } else if (arg == "--subtree") {
            options->subtree = true;
        } else if (arg == "--get") {
            options->get = true;
        } else if (arg == "--community" && hasValue) {
            options->community = argv[++i];
        } else if (arg == "--start" && hasValue) {
            options->start = argv[++i];
        } else if (arg == "--version" && hasValue) {
            const std::string version = argv[++i];
            if (version == "1") {
                options->version = SNMP_VERSION_1;
            } else if (version == "2c") {
                options->version = SNMP_VERSION_2c;
            } else {
                return false;
            }
        } else if (!arg.empty() && arg[0] != '-' && options->address.empty()) {
            options->address = arg;
        } else {
            return false;
        }
    }
    return !options->address.empty() &&
           !(options->bulk > 0 && (options->version == SNMP_VERSION_1 || options->get));
}

uint32_t Percentile(std::vector<uint32_t> &sorted, double fraction) {
    if (sorted.empty()) {
        return 0;
    }
    const size_t index = std::min(sorted.size() - 1, static_cast<size_t>(fraction * sorted.size()));
    return sorted[index];
}

}  // namespace

int main(int argc, char **argv) {
    Load load;
    if (!ParseArgs(argc, argv, &load.options)) {
        std::fputs(Usage, stderr);
        return 2;
    }
    const Options &options = load.options;
    setenv("MIBS", "", 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    init_snmp("snmp_load");

    oid start[MAX_OID_LEN];
    size_t startLength = MAX_OID_LEN;
    if (read_objid(options.start.c_str(), start, &startLength) == 0) {
        std::fprintf(stderr, "snmp_load: bad start name %s\n", options.start.c_str());
        return 2;
    }
    load.start.assign(start, start + startLength);

    netsnmp_session settings;
    snmp_sess_init(&settings);
    std::string peer = options.address;
    std::string community = options.community;
    settings.peername = &peer[0];
    settings.version = options.version;
    settings.community = reinterpret_cast<u_char *>(&community[0]);
    settings.community_len = community.size();
    settings.timeout = options.timeoutMs * 1000;
    settings.retries = 1;
    load.session = snmp_open(&settings);
    if (load.session == nullptr) {
        snmp_perror("snmp_load: open");
        return 1;
    }
    load.latencyUs.reserve(static_cast<size_t>(options.requests));

    const long rssBefore = options.pid > 0 ? ResidentKb(options.pid) : -1;
    const long fdsBefore = options.pid > 0 ? OpenDescriptors(options.pid) : -1;
    const long long cpuBefore = options.pid > 0 ? CpuNs(options.pid) : -1;
    std::vector<Slot> slots(static_cast<size_t>(options.outstanding));
    const Clock::time_point begin = Clock::now();
    for (Slot &slot : slots) {
        slot.load = &load;
        slot.cursor = load.start;
        Send(&slot);
    }
    while (load.inFlight > 0 && !load.failed) {
        int fds = 0;
        int block = 1;
        fd_set readable;
        FD_ZERO(&readable);
        struct timeval timeout = {1, 0};
        snmp_select_info(&fds, &readable, &timeout, &block);
        const int count = select(fds, &readable, nullptr, nullptr, block ? nullptr : &timeout);
        if (count > 0) {
            snmp_read(&readable);
        } else if (count == 0) {
            snmp_timeout();
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    const long long cpuAfter = options.pid > 0 ? CpuNs(options.pid) : -1;
    const long rssAfter = options.pid > 0 ? ResidentKb(options.pid) : -1;
    const long fdsAfter = options.pid > 0 ? OpenDescriptors(options.pid) : -1;
    snmp_close(load.session);

    std::sort(load.latencyUs.begin(), load.latencyUs.end());
    std::printf("target           %s (%s, %s)\n", options.address.c_str(),
                options.version == SNMP_VERSION_1 ? "SNMPv1" : "SNMPv2c",
                options.get        ? "GET"
                : options.bulk > 0 ? ("GETBULK x" + std::to_string(options.bulk)).c_str()
                                   : "GETNEXT");
    std::printf("requests         %ld answered, %ld timed out, %ld errors, %ld walks\n",
                load.answered, load.timeouts, load.errors, load.walks);
    std::printf("bindings         %ld\n", load.bindings);
    std::printf("outstanding      %ld\n", options.outstanding);
    std::printf("time             %.2f s\n", seconds);
    std::printf("rate             %.0f requests/s, %.0f bindings/s\n", load.answered / seconds,
                load.bindings / seconds);
    std::printf("latency          p50 %u us, p90 %u us, p99 %u us, max %u us\n",
                Percentile(load.latencyUs, 0.50), Percentile(load.latencyUs, 0.90),
                Percentile(load.latencyUs, 0.99),
                load.latencyUs.empty() ? 0 : load.latencyUs.back());
    if (options.pid > 0) {
        std::printf("agent RSS        %ld kB before, %ld kB after (%+ld kB)\n", rssBefore, rssAfter,
                    rssAfter - rssBefore);
        std::printf("agent fds        %ld before, %ld after\n", fdsBefore, fdsAfter);
        if (cpuBefore >= 0 && cpuAfter >= 0 && load.answered > 0) {
            std::printf("agent cpu        %.2f us per request\n",
                        (cpuAfter - cpuBefore) / 1000.0 / load.answered);
        }
    }
    return load.failed ? 1 : 0;
}
