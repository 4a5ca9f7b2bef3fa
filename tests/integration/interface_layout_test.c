/*
 * The extension-agent interface as a host written in C sees it: the header
 * compiles as C, and the records have the layout every host relies on.
 */
#include <stddef.h>
#include <stdio.h>

#include "nt/snmpext.h"
#include "nt/win32.h"

#define CHECK(condition)                                              \
    do {                                                              \
        if (!(condition)) {                                           \
            fprintf(stderr, "layout check failed: %s\n", #condition); \
            failures++;                                               \
        }                                                             \
    } while (0)

int main(void) {
    int failures = 0;
    CHECK(sizeof(BOOL) == 4);
    CHECK(sizeof(UINT) == 4);
    CHECK(sizeof(AsnInteger) == 4);
    CHECK(sizeof(HANDLE) == sizeof(void *));

    /* Fields in order, naturally aligned. */
    CHECK(offsetof(AsnObjectIdentifier, idLength) == 0);
    CHECK(offsetof(AsnObjectIdentifier, ids) == sizeof(void *));
    CHECK(offsetof(AsnOctetString, stream) == 0);
    CHECK(offsetof(AsnOctetString, length) == sizeof(void *));
    CHECK(offsetof(AsnOctetString, dynamic) == sizeof(void *) + 4);
    CHECK(offsetof(AsnAny, asnType) == 0);
    CHECK(offsetof(AsnAny, asnValue) == _Alignof(AsnOctetString));
    CHECK(sizeof(((AsnAny *)0)->asnValue) == sizeof(AsnOctetString));
    CHECK(offsetof(RFC1157VarBind, name) == 0);
    CHECK(offsetof(RFC1157VarBind, value) == sizeof(AsnObjectIdentifier));
    CHECK(offsetof(RFC1157VarBindList, list) == 0);
    CHECK(offsetof(RFC1157VarBindList, len) == sizeof(void *));

#if defined(__x86_64__)
    CHECK(sizeof(AsnObjectIdentifier) == 16);
    CHECK(sizeof(AsnOctetString) == 16);
    CHECK(sizeof(AsnAny) == 24);
    CHECK(sizeof(RFC1157VarBind) == 40);
    CHECK(sizeof(RFC1157VarBindList) == 16);
#endif
    if (failures == 0) {
        printf("extension-agent records: identifier %zu, value %zu, binding %zu bytes\n",
               sizeof(AsnObjectIdentifier), sizeof(AsnAny), sizeof(RFC1157VarBind));
    }
    return failures == 0 ? 0 : 1;
}
