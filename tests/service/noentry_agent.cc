// NOENTRY.DLL: a shared library that is no extension agent (it exports none
// of the entry points), for the service's tests.
extern "C" __attribute__((visibility("default"))) int NotAnAgent() { return 0; }
