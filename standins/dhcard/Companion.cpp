// Stand-in for one of the five libraries the Dahua card library needs beside it (tmcrt.dll,
// tmman32.dll, pnx.dll, hostcomm.dll, DllMonitor.dll). VDCDecode.dll imports one function from
// each, so it loads only where its own folder is searched for them. DH_COMPANION_FILE names
// the file, DH_COMPANION_ENTRY the function.
#include <string>

#include "StandinKit.h"

extern "C"
#if defined(_WIN32)
    __declspec(dllexport)
#else
    __attribute__((visibility("default")))
#endif
        int DH_COMPANION_ENTRY(void) {
  return 1;
}

namespace {
const kit::Hooks noted([] { kit::Note(std::string("loaded ") + DH_COMPANION_FILE); });
}  // namespace
