// The supported-column list and the table walk; see table.h.
#include "table.h"

#include "agent.h"
#include "discovery.h"
#include "nt/win32.h"

ColumnNode *ColumnList = nullptr;

int ColumnListAppend(ColumnNode **list, UINT column) {
    auto *node = static_cast<ColumnNode *>(HeapAlloc(GetProcessHeap(), 0, sizeof(ColumnNode)));
    if (node == nullptr) {
        return 1;
    }
    node->column = column;
    node->next = nullptr;
    ColumnNode **link = list;
    while (*link != nullptr) {
        link = &(*link)->next;
    }
    *link = node;
    return 0;
}

int ColumnListContains(const ColumnNode *first, UINT column) {
    for (const ColumnNode *p = first; p != nullptr; p = p->next) {
        if (p->column == column) {
            return 0;
        }
    }
    return 1;
}

int ColumnListNextAfter(const ColumnNode *first, UINT column, UINT *next) {
    if (first == nullptr) {
        return 1;  // only before a successful initialisation
    }
    if (first->column > column) {
        *next = first->column;
        return 0;
    }
    for (const ColumnNode *p = first; p != nullptr; p = p->next) {
        if (p->column <= column) {
            if (p->next == nullptr) {
                return 1;
            }
            if (p->next->column > column) {
                *next = p->next->column;
                return 0;
            }
        }
    }
    return 1;
}

void ColumnListFree(ColumnNode *first) {
    while (first != nullptr) {
        ColumnNode *next = first->next;
        HeapFree(GetProcessHeap(), 0, first);
        first = next;
    }
}

AsnInteger TableNext(UINT *column, UINT *instance) {
    if (ColumnListContains(ColumnList, *column) == 0 && *instance < AdapterCount) {
        ++*instance;
        return SNMP_ERRORSTATUS_NOERROR;
    }
    UINT next = 0;
    if (ColumnListNextAfter(ColumnList, *column, &next) == 0) {
        *column = next;
        *instance = 1;
        return SNMP_ERRORSTATUS_NOERROR;
    }
    return SNMP_ERRORSTATUS_NOSUCHNAME;
}

int InitAgentTable(const UINT *columns, UINT count) {
    if (DiscoverAdapters() != 0) {
        return 0;
    }
    for (UINT i = 0; i < count; ++i) {
        if (ColumnListAppend(&ColumnList, columns[i]) != 0) {
            return 0;
        }
    }
    return 1;
}
