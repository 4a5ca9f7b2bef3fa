// FAKEAGENT.DLL: an extension agent whose answers a test scripts.
//
// It serves a small table of named INTEGER objects under a view the test
// sets, the way a well-behaved agent does (GETNEXT gives the first object
// after the name, or the end-of-view name; GET the object or noSuchName),
// unless the test forces a status or an answer name. Every call is
// recorded. Names it hands back are new blocks of the platform's global
// heap, as the interface requires, so a host that forgets to release them
// leaks under the sanitizers.
//
// The control functions are looked up with dlsym in the library the host
// loaded (the same path gives the same handle).
#ifndef TESTS_SERVICE_FAKE_AGENT_H
#define TESTS_SERVICE_FAKE_AGENT_H

#include <stdint.h>

extern "C" {

// Forgets everything; the view becomes view[0..length).
typedef void (*FakeResetFn)(const uint32_t *view, uint32_t length);
// Adds an object (kept in name order).
typedef void (*FakeAddObjectFn)(const uint32_t *name, uint32_t length, int32_t value);
// Makes SnmpExtensionInit fail (FALSE) or succeed.
typedef void (*FakeFailInitFn)(int fail);
// Forces every later query to fail with status, without an answer (-1:
// answer normally); a normal GETNEXT answer then carries the name
// name[0..length) (length 0: the object's own), and every answer the value
// type `type` (0: INTEGER).
typedef void (*FakeForceFn)(int32_t status, const uint32_t *name, uint32_t length, uint8_t type);
// Queries so far; the last one's request type, name and SET value.
typedef uint32_t (*FakeCallsFn)(void);
typedef uint8_t (*FakeLastRequestFn)(void);
typedef uint32_t (*FakeLastNameFn)(uint32_t *arcs, uint32_t capacity);
typedef int64_t (*FakeLastValueFn)(uint8_t *type);
}

#endif  // TESTS_SERVICE_FAKE_AGENT_H
