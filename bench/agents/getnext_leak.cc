// A long run of GETNEXTs through the agents' exported entry points, for a
// leak checker (leak-check.sh runs it under valgrind).
//
// ETHSTAT.DLL and HOSTDEV.DLL are loaded as a host loads them, over a
// temporary NT root with two simulated adapters, and walked again and
// again: from the view to the end of the table, from a name before the
// view, from names between and past the columns, one binding a request and
// three. The second adapter does not answer dot3StatsFCSErrors, so GETNEXTs
// also pass over a cell whose driver fails. Every name an agent hands back is copied out and
// released with GlobalFree, as nt/snmpext.h says; the names passed in are the program's own and
// must come back untouched. A clean run leaks nothing: anything valgrind finds lost was lost by an
// agent or the platform.
//
// The agents stay loaded to the end, as in the SNMP service: an agent's
// column list lives as long as the library.
#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "nt/snmpext.h"
#include "nt/win32.h"
#include "simulated_root.h"

namespace {

constexpr long Requests = 100000;

struct Agent {
    explicit Agent(const char *name) : file(name) {}
    const char *file;
    PFNSNMPEXTENSIONQUERY query = nullptr;
    std::vector<UINT> view;
};

bool Load(const std::string &folder, Agent *agent) {
    const std::string path = folder + "/" + agent->file;
    void *library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "getnext_leak: %s\n", dlerror());
        return false;
    }
    auto init = reinterpret_cast<PFNSNMPEXTENSIONINIT>(dlsym(library, "SnmpExtensionInit"));
    agent->query = reinterpret_cast<PFNSNMPEXTENSIONQUERY>(dlsym(library, "SnmpExtensionQuery"));
    HANDLE trapEvent = nullptr;
    AsnObjectIdentifier view = {0, nullptr};
    if (init == nullptr || agent->query == nullptr || !init(0, &trapEvent, &view)) {
        std::fprintf(stderr, "getnext_leak: %s does not start\n", path.c_str());
        return false;
    }
    agent->view.assign(view.ids, view.ids + view.idLength);
    return true;
}

bool Before(const std::vector<UINT> &a, const std::vector<UINT> &b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
}

// True when a GETNEXT of name still belongs to the agent: the name lies
// before the view's end. A host never asks an agent about names past its
// view (the agent reads only arcs 11 and 12).
bool Pending(const std::vector<UINT> &name, const std::vector<UINT> &view) {
    const bool inView =
        name.size() >= view.size() && std::equal(view.begin(), view.end(), name.begin());
    return inView || Before(name, view);
}

// One GETNEXT request over names; each is replaced by the name that comes
// after it. False when the agent fails or breaks the ownership rules.
bool GetNext(const Agent &agent, std::vector<std::vector<UINT>> *names, long *released) {
    RFC1157VarBind bindings[3];
    const size_t count = names->size();
    const std::vector<std::vector<UINT>> passed = *names;
    for (size_t i = 0; i < count; ++i) {
        bindings[i].name.idLength = static_cast<UINT>((*names)[i].size());
        bindings[i].name.ids = (*names)[i].data();
        bindings[i].value.asnType = ASN_NULL;
    }
    RFC1157VarBindList list = {bindings, static_cast<UINT>(count)};
    AsnInteger status = SNMP_ERRORSTATUS_NOERROR;
    AsnInteger index = 0;
    agent.query(ASN_RFC1157_GETNEXTREQUEST, &list, &status, &index);
    bool sound = status == SNMP_ERRORSTATUS_NOERROR;
    for (size_t i = 0; i < count; ++i) {
        std::vector<UINT> &name = (*names)[i];
        if (name != passed[i]) {
            sound = false;  // the agent wrote into the host's name
        }
        if (bindings[i].name.ids == name.data()) {
            sound = false;  // a GETNEXT always answers with another name
            continue;
        }
        name.assign(bindings[i].name.ids, bindings[i].name.ids + bindings[i].name.idLength);
        GlobalFree(bindings[i].name.ids);
        ++*released;
        if (!Before(passed[i], name)) {
            sound = false;  // the walk must go forward
        }
    }
    return sound;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf(
            "usage: %s [AGENT_FOLDER]\n"
            "Runs %ld GETNEXT requests through ETHSTAT.DLL and HOSTDEV.DLL (from\n"
            "AGENT_FOLDER, default %s) over a temporary NT root, releasing every\n"
            "name as a host does. Meant to be run under a leak checker.\n",
            argv[0], Requests, AGENT_DIR);
        return 0;
    }
    const std::string folder = argc > 1 ? argv[1] : AGENT_DIR;
    bench::SimulatedRoot root;
    {
        // Vxlnk2 without its FCS errors (0x0002020D): that cell fails.
        const std::string path = root.path() + "/Device/Vxlnk2";
        std::ifstream in(path);
        std::string text, line;
        while (std::getline(in, line)) {
            if (line.compare(0, 11, "0x0002020D ") != 0) {
                text += line + "\n";
            }
        }
        in.close();
        std::ofstream(path, std::ios::trunc) << text;
    }
    Agent agents[2] = {Agent("ETHSTAT.DLL"), Agent("HOSTDEV.DLL")};
    for (Agent &agent : agents) {
        if (!Load(folder, &agent)) {
            return 1;
        }
    }

    long requests = 0;
    long bindings = 0;
    long released = 0;
    long walks = 0;
    while (requests < Requests) {
        const Agent &agent = agents[walks % 2];
        const std::vector<UINT> &view = agent.view;
        // Where this walk starts: the view, a name before it, or inside it.
        std::vector<std::vector<UINT>> names;
        switch (walks % 4) {
            case 0: names = {view}; break;
            case 1: names = {{1, 3, 6, 1}}; break;
            default: {
                std::vector<UINT> between = view;
                between.insert(between.end(), {12, 7});  // past every row and column
                std::vector<UINT> column = view;
                column.insert(column.end(), {3, 0});
                names = {view, between, column};
                break;
            }
        }
        ++walks;
        // Step the bindings that are still in the table until none is.
        for (int step = 0; step < 100 && requests < Requests; ++step) {
            std::vector<std::vector<UINT>> pending;
            for (const std::vector<UINT> &name : names) {
                if (Pending(name, view)) {
                    pending.push_back(name);
                }
            }
            if (pending.empty()) {
                break;
            }
            if (!GetNext(agent, &pending, &released)) {
                std::fprintf(stderr, "getnext_leak: %s answered a GETNEXT wrongly\n", agent.file);
                return 1;
            }
            ++requests;
            bindings += static_cast<long>(pending.size());
            names = std::move(pending);
        }
    }
    std::printf(
        "getnext_leak: %ld GETNEXT requests (%ld bindings, %ld walks), %ld names "
        "released\n",
        requests, bindings, walks, released);
    return released == bindings ? 0 : 1;
}
