// The agent's table: its supported columns and the walk over its objects.
//
// Every object an agent serves is named AgentView.column.instance (12 arcs),
// with the instance a row from 1 to AdapterCount. ColumnList holds the
// columns that exist, strictly ascending, filled once by AgentInit; the walk
// goes down a column row by row, then on to the first row of the next
// listed column, which is the order of the objects' names. All comparisons
// are unsigned 32-bit.
#ifndef AGENT_COMMON_TABLE_H
#define AGENT_COMMON_TABLE_H

#include "nt/snmpext.h"

struct ColumnNode {
    UINT column;
    ColumnNode *next;
};

// Head of this agent's list; null (empty) at load. Nodes come from the
// process heap and live as long as the library is loaded.
extern ColumnNode *ColumnList;

// Appends a node at the tail. 0 appended; 1 no memory, list unchanged.
int ColumnListAppend(ColumnNode **list, UINT column);

// 0 when the column is listed, 1 when it isn't (or the list is empty).
int ColumnListContains(const ColumnNode *first, UINT column);

// 0 and *next the smallest listed column greater than column; 1 when there
// is none, and for an empty list.
int ColumnListNextAfter(const ColumnNode *first, UINT column, UINT *next);

// Releases every node; the head pointer is the caller's to clear.
void ColumnListFree(ColumnNode *first);

// Replaces (column, instance) by the object after it and returns 0, or
// returns SNMP_ERRORSTATUS_NOSUCHNAME at the end of the table with both
// unchanged. An unlisted column moves to the next listed one, row 1.
AsnInteger TableNext(UINT *column, UINT *instance);

#endif  // AGENT_COMMON_TABLE_H
