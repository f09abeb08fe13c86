// Test-only stand-ins for a broken frame server: without the export CreateScriptEnvironment
// (FAKE_NO_ENTRY), or with one that gives no environment.
#ifndef FAKE_NO_ENTRY
extern "C" __attribute__((visibility("default"))) void* CreateScriptEnvironment(int) { return nullptr; }
#else
extern "C" __attribute__((visibility("default"))) int SomethingElse() { return 0; }
#endif
