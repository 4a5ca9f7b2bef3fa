// The hooks an agent plugs into the common layer.
//
// The common layer (entry points, request dispatch, table walk, discovery,
// identifier utilities and log) is the same in every agent library; each
// agent supplies these three:
//
//  - AgentView: the table entry it serves, 10 arcs over static arcs. The
//    host receives it by value from SnmpExtensionInit.
//  - AgentInit: runs discovery and appends the agent's columns, ascending,
//    to ColumnList. Non-zero for success; 0 when no adapter was found or an
//    append failed.
//  - AgentColumnValue: writes the value of (column, instance) into the
//    binding's value record and returns 0, or returns noSuchName (2), with
//    the record as it came, for a column it does not serve, an instance
//    outside 1 .. AdapterCount, or a value it cannot read. It tests column
//    and instance itself, and never touches the binding's name. A GET
//    answers noSuchName for such a cell; a GETNEXT passes over it to the
//    next cell that answers.
#ifndef AGENT_COMMON_AGENT_H
#define AGENT_COMMON_AGENT_H

#include "nt/snmpext.h"

extern const AsnObjectIdentifier AgentView;
int AgentInit();
AsnInteger AgentColumnValue(RFC1157VarBind *binding, UINT column, UINT instance);

// What every AgentInit does: discovery, then the agent's columns (ascending)
// appended to ColumnList. 1 for success; 0 when no adapter was found or an
// append failed, leaving what was done before in place.
int InitAgentTable(const UINT *columns, UINT count);

// Answers one binding of a GET or GETNEXT; the binding's status. A GETNEXT
// answers noSuchName only when no cell after its name answers (the end of
// the table), with the binding's value as it came; its name is then either
// the caller's or one this call stored, which the caller releases.
AsnInteger QueryBinding(RFC1157VarBind *binding, BYTE requestType);

#endif  // AGENT_COMMON_AGENT_H
