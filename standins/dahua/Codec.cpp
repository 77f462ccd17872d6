// Stand-in for one of the Dahua player's codec libraries (AmrDll.dll, dllh264.dll, ...). The
// player adapter only loads them beside dhplay.dll and looks nothing up in them, so they carry
// no more than the stand-in control functions. DH_CODEC_NAME names the file.
#include <string>

#include "StandinKit.h"

namespace {
const kit::Hooks noted([] { kit::Note(std::string("loaded ") + DH_CODEC_NAME); });
}  // namespace
