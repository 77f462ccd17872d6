// Stand-in decoder.dll: the companion the DL decoder library is loaded after. It does nothing
// of its own; it answers the kit's control functions so a test can see it loaded.
#include "StandinKit.h"

STANDIN_EXPORT std::int32_t ZORV_STDCALL DecoderVersion() {
  STANDIN_ENTER(std::int32_t, "DecoderVersion");
  return 1;
}
