// TLock: the lock of the engine and of every adapter's player table.
#pragma once

#include <atomic>
#include <cstdint>

#include "Platform.h"

// A critical section (re-entrant for the thread that holds it) that remembers which thread
// entered last. Leave clears the owner, even when the holder had entered more than once.
class TLock : public Win::CriticalSection {
 public:
  TLock() = default;
  void Enter();
  void Leave();
  // Id of the thread that last entered; 0 after Leave.
  std::uint32_t OwnerThread() const { return FOwnerThread.load(std::memory_order_relaxed); }

 private:
  std::atomic<std::uint32_t> FOwnerThread{0};
};

// Holds a TLock for one scope; released on every path, exceptions included.
class TLockGuard {
 public:
  explicit TLockGuard(TLock& Lock) : FLock(Lock) { FLock.Enter(); }
  ~TLockGuard() { FLock.Leave(); }
  TLockGuard(const TLockGuard&) = delete;
  TLockGuard& operator=(const TLockGuard&) = delete;

 private:
  TLock& FLock;
};
