// TRelaxed<T>: a value that one thread may store while another reads it, without a lock.
//
// Player entries, channel states and callback tables are written by host threads and read by
// vendor callback threads at the same time. Each field is a relaxed atomic so that every such
// read is well defined; the wrapper copies, compares and converts like the plain value, so the
// tables read as ordinary records ("Info.Port = Port; if (Info.Port < 0) ...").
#pragma once

#include <atomic>

template <class T>
class TRelaxed {
 public:
  constexpr TRelaxed() noexcept : FValue(T{}) {}
  constexpr TRelaxed(T Value) noexcept : FValue(Value) {}  // NOLINT: implicit on purpose
  TRelaxed(const TRelaxed& Other) noexcept : FValue(Other.Get()) {}
  TRelaxed& operator=(const TRelaxed& Other) noexcept {
    Set(Other.Get());
    return *this;
  }
  TRelaxed& operator=(T Value) noexcept {
    Set(Value);
    return *this;
  }
  operator T() const noexcept { return Get(); }  // NOLINT: implicit on purpose

  T Get() const noexcept { return FValue.load(std::memory_order_relaxed); }
  void Set(T Value) noexcept { FValue.store(Value, std::memory_order_relaxed); }
  // std::atomic spellings, for code written against atomics.
  T load() const noexcept { return Get(); }
  void store(T Value) noexcept { Set(Value); }

 private:
  std::atomic<T> FValue;
};
