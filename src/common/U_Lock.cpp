#include "U_Lock.h"

void TLock::Enter() {
  Win::CriticalSection::Enter();
  FOwnerThread.store(Win::GetCurrentThreadId(), std::memory_order_relaxed);
}

void TLock::Leave() {
  FOwnerThread.store(0, std::memory_order_relaxed);
  Win::CriticalSection::Leave();
}
