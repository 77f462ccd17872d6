// Stand-in for "Decoder.dll" or "mp3decore.dll", the helpers loaded before "AVPlayer.dll".
// The TM adapters only load them, in order, and keep their handles; each answers one entry
// point with its own file name, so a test can tell which file was loaded.
#include "StandinKit.h"

#ifndef TM_HELPER_NAME
#error "TM_HELPER_NAME must name the library file"
#endif

STANDIN_EXPORT const char* ZORV_STDCALL TM_HelperName() {
  kit::Note("TM_HelperName()");
  return TM_HELPER_NAME;
}
