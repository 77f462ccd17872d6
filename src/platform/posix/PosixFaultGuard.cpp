// Vendor libraries on POSIX are our own stand-ins: faults inside them are bugs to see, not to
// survive, so the guarded call simply runs.
#include "Platform.h"

namespace Win {

bool CallCatchingFaults(void (*call)(void*), void* context) {
  call(context);
  return true;
}

}  // namespace Win
