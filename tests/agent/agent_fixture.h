// What the agent tests share: a fixture that puts the agent library's state
// back to how it is at load, over a fresh fake platform, and a small host
// that calls the exported entry points and keeps names as a host must.
#ifndef TESTS_AGENTS_AGENT_FIXTURE_H
#define TESTS_AGENTS_AGENT_FIXTURE_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/agent.h"
#include "common/discovery.h"
#include "common/snmp.h"
#include "common/table.h"
#include "fake_platform.h"

extern "C" {
BOOL SnmpExtensionInit(DWORD, HANDLE *, AsnObjectIdentifier *);
BOOL SnmpExtensionQuery(BYTE, RFC1157VarBindList *, AsnInteger *, AsnInteger *);
BOOL SnmpExtensionTrap(AsnObjectIdentifier *, AsnInteger *, AsnInteger *, AsnTimeticks *,
                       RFC1157VarBindList *);
}

using Arcs = std::vector<UINT>;

// Kernel device name of position p (1-based) of the probe list.
std::string DeviceName(int position);

class AgentTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Devices at the given probe positions (1-based) that open and answer
    // every statistic with 100 * position + the statistic's low byte.
    void AddAdapters(std::initializer_list<int> positions);
    // Devices at positions 1 .. count.
    void AddFirstAdapters(int count);
    // AddFirstAdapters(count), then SnmpExtensionInit; asserts it succeeds.
    void InitWithAdapters(int count);

    // A binding list the test owns, whose names it passes in as a host
    // does. Answer() hands back each binding's name as arcs; names the
    // agent handed over are released as the interface says.
    struct Request {
        explicit Request(std::vector<Arcs> names);
        ~Request();
        Request(const Request &) = delete;
        Request &operator=(const Request &) = delete;

        BOOL Run(BYTE type);
        Arcs Name(size_t i) const;
        bool NameReplaced(size_t i) const { return list[i].name.ids != callers[i]; }

        std::vector<Arcs> names;
        std::vector<RFC1157VarBind> list;
        std::vector<UINT *> callers;
        RFC1157VarBindList bindings{};
        AsnInteger errorStatus = -1;  // -1: not written
        AsnInteger errorIndex = -1;
    };

    // GETNEXT from name until the end-of-view name; the (column, instance)
    // of every object met. Fails the test if a step is not noError.
    std::vector<std::pair<UINT, UINT>> Walk(const Arcs &from);

    // The view's arcs followed by more.
    static Arcs Name(std::initializer_list<UINT> suffix);
    static Arcs EndOfView();
};

#endif  // TESTS_AGENTS_AGENT_FIXTURE_H
