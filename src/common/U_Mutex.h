// TMutex and TRecursiveMutex: std::mutex and std::recursive_mutex that give back what the thread
// library allocated for them.
//
// With MinGW's POSIX thread library a mutex takes a small block from the process heap the first
// time it is locked, and the standard types never free it: their destructors do nothing, as
// they need not elsewhere. Every adapter built and destroyed would then leave 20 bytes behind for
// each of its per-player locks, 10 000 bytes for a lifetime of the library with one MPEG-4
// adapter. Elsewhere these are the standard types themselves.
#pragma once

#include <mutex>

#if defined(__MINGW32__) && defined(_GLIBCXX_HAS_GTHREADS)
#include <pthread.h>

template <class TStd>
class TDestroyedMutex : public TStd {
 public:
  TDestroyedMutex() = default;
  ~TDestroyedMutex() { pthread_mutex_destroy(this->native_handle()); }
};
using TMutex = TDestroyedMutex<std::mutex>;
using TRecursiveMutex = TDestroyedMutex<std::recursive_mutex>;
#else
using TMutex = std::mutex;
using TRecursiveMutex = std::recursive_mutex;
#endif
