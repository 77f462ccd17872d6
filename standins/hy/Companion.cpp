// A runtime library the HY player library needs beside it ("msvcrt.dll", "libmmd.dll",
// "libguide40.dll"): loaded from the player's directory before the player library, never
// called. On Windows it is built without any C runtime and imports nothing, so that a file
// named msvcrt.dll loaded by its full path never sends the loader to the system's msvcrt.dll.
#if defined(_WIN32)
extern "C" int __stdcall CompanionEntry(void*, unsigned long, void*) { return 1; }
#else
extern "C" __attribute__((visibility("default"))) int CompanionPresent() { return 1; }
#endif
