/* The public headers compile as C: the layout a C client sees of the records that cross the
 * library boundary. */
#include <stddef.h>

#include "ZorvDecoder.h"
#include "ZorvSurface.h"

size_t zorv_c_layout(int which) {
  switch (which) {
    case 0: return sizeof(TFrameHead);
    case 1: return offsetof(TFrameHead, FrameTime);
    case 2: return offsetof(TFrameHead, DecodeMode);
    case 3: return sizeof(TFrameHeadH3);
    case 4: return offsetof(TFrameHeadH3, FrameStamp);
    case 5: return offsetof(TFrameHeadH3, Group);
    case 6: return sizeof(TDecFrameInfo);
    case 7: return offsetof(TDecFrameInfo, DvrType);
    case 8: return sizeof(TDecCallBack);
    default: return 0;
  }
}
