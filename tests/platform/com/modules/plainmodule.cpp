// Test-only module that is a plain library: it exports a function but no class objects.
extern "C" __attribute__((visibility("default"))) int PlainModuleAnswer() { return 42; }
