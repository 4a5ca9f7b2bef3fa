// Registering only the rows an agent serves, for an AgentX master.
//
// Under the system's snmpd the service shares tables with the master's own
// modules: snmpd serves hrDeviceTable rows of its own (processors, disks,
// network interfaces, indexed from 768 up), and our agent serves the rows
// of its adapters (indexed 1 up). Registering the whole view would hide
// the master's rows, so a subagent registers each row it serves, and the
// master's registry merges both into one table ordered by index.
//
// The rows are learnt once, when the agent has been initialised, by walking
// its view: an agent finds its adapters at initialisation and never after,
// so its rows stay as they are for the life of the process (a reload starts
// a new one). A row is every name of the view that shares the instance part
// after the column arc; it is registered as one range over the column arc,
// from the row's first column to its last (one AgentX registration a row).
#ifndef SERVICE_AGENTX_ROWS_H
#define SERVICE_AGENTX_ROWS_H

#include <cstdint>
#include <string>
#include <vector>

#include "extension_agent.h"

namespace snmpsvc {

struct ServedRow {
    snmphost::Oid instance;  // the arcs after the column arc
    uint32_t firstColumn = 0;
    uint32_t lastColumn = 0;
};

// The rows of agent's view, in the order of their first object in a walk.
std::vector<ServedRow> ServedRows(snmphost::ExtensionAgent &agent);

// Serves start and the names below it under the registration name `name`
// (view_handler.cc); with rangeArc > 0, the same for each value of arc
// number rangeArc (counted from 1) from its value in start up to
// rangeUpper. The agent must outlive the engine. False with *error when
// the engine refuses it.
bool RegisterAgentRange(snmphost::ExtensionAgent *agent, const std::string &name,
                        const snmphost::Oid &start, int rangeArc, uint32_t rangeUpper,
                        std::string *error);

// Registers each row of the agent's view with the engine, under the
// registration name `name`; *rows says how many. False with *error when
// one cannot be registered (those before it stay registered).
bool RegisterAgentRows(snmphost::ExtensionAgent *agent, const std::string &name, size_t *rows,
                       std::string *error);

}  // namespace snmpsvc

#endif  // SERVICE_AGENTX_ROWS_H
