// Stand-in hi_h264dec.dll: the decoder library the HuangHe player library needs beside it. It is
// loaded before the player library and never called; its one entry point only journals.
#include "StandinKit.h"

STANDIN_EXPORT std::int32_t ZORV_STDCALL Hi264DecCreate(std::int32_t param) {
  STANDIN_ENTER(std::int32_t, "Hi264DecCreate", param);
  return 0;
}
