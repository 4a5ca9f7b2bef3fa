// Rows of an agent's view as AgentX registrations; see agentx_rows.h.
#include "agentx_rows.h"

#include <algorithm>

#include "agent_router.h"
#include "snmp_engine.h"

namespace snmpsvc {

namespace {

// A walk of a view never needs more steps than this: 16 adapters of 16
// columns are 256 objects.
constexpr size_t MaxWalkSteps = 65536;

}  // namespace

std::vector<ServedRow> ServedRows(snmphost::ExtensionAgent &agent) {
    std::vector<ServedRow> rows;
    const snmphost::Oid &view = agent.view();
    WideOid name(view.begin(), view.end());
    for (size_t step = 0; step < MaxWalkSteps; ++step) {
        Reply reply = GetNextFromAgent(agent, name.data(), name.size());
        if (reply.kind != Reply::Answer) {
            break;  // the end of the view (or an error, which also ends it)
        }
        name.assign(reply.name, reply.name + reply.nameLength);
        if (name.size() < view.size() + 2) {
            continue;  // a name without an instance part is no table cell
        }
        const uint32_t column = static_cast<uint32_t>(name[view.size()]);
        snmphost::Oid instance(name.begin() + static_cast<long>(view.size()) + 1, name.end());
        auto row = std::find_if(rows.begin(), rows.end(),
                                [&](const ServedRow &known) { return known.instance == instance; });
        if (row == rows.end()) {
            rows.push_back({std::move(instance), column, column});
        } else {
            row->firstColumn = std::min(row->firstColumn, column);
            row->lastColumn = std::max(row->lastColumn, column);
        }
    }
    return rows;
}

bool RegisterAgentRows(snmphost::ExtensionAgent *agent, const std::string &name, size_t *rows,
                       std::string *error) {
    const std::vector<ServedRow> served = ServedRows(*agent);
    *rows = 0;
    for (const ServedRow &row : served) {
        snmphost::Oid start = agent->view();
        start.push_back(row.firstColumn);
        start.insert(start.end(), row.instance.begin(), row.instance.end());
        // The column arc is the one after the view; ranges count arcs from 1.
        if (!RegisterAgentRange(agent, name, start, static_cast<int>(agent->view().size()) + 1,
                                row.lastColumn, error)) {
            return false;
        }
        ++*rows;
    }
    return true;
}

}  // namespace snmpsvc
