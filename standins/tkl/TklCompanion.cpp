// Stand-in for one of the twelve codec libraries that "TKL_Player.dll" ships with. The TKL
// adapter only loads them (in order, before the player) and keeps their handles; each answers
// one entry point with its own file name, so a test can tell which file was loaded.
#include "StandinKit.h"

#ifndef TKL_COMPANION_NAME
#error "TKL_COMPANION_NAME must name the library file"
#endif

STANDIN_EXPORT const char* ZORV_STDCALL TKL_CompanionName() {
  kit::Note("TKL_CompanionName()");
  return TKL_COMPANION_NAME;
}
