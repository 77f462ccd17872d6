// Stand-in kit: what every stand-in vendor library shares.
//
//  - a call journal: each entry point records its name and arguments ("Name(1,ptr,40)");
//  - scripts: a test tells an entry point to return a given value, or to throw, for the next
//    N calls or for good, without doing its work;
//  - named fire, query and option hooks a stand-in registers, so a test can make it call its
//    callbacks, read its inner state and change its behaviour;
//  - the Standin_* control functions every stand-in exports (StandinControl.h), which reach
//    all of the above;
//  - a player core (StandinPlayer.h) and the ZRV stream format (ZrvStream.h).
//
// Writing an entry point:
//
//   STANDIN_EXPORT BOOL ZORV_STDCALL Vendor_Stop(LONG port) {
//     STANDIN_ENTER(BOOL, "Vendor_Stop", port);   // journal + scripted result/throw
//     ...real work...
//   }
//
// Arguments are journalled as: integers in decimal, pointers as "0" or "ptr", strings in
// double quotes (kit::Str), doubles with %g (kit::Dbl).
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "StandinControl.h"
#include "ZorvDecoder.h"  // ZORV_STDCALL

#if defined(_WIN32)
#define STANDIN_EXPORT extern "C" __declspec(dllexport)
#else
#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace kit {

// One journalled argument.
struct Arg {
  std::string text;
  template <typename T, std::enable_if_t<std::is_integral_v<T> || std::is_enum_v<T>, int> = 0>
  Arg(T v) : text(std::to_string(static_cast<long long>(v))) {}
  template <typename T>
  Arg(T* p) : text(p ? "ptr" : "0") {}  // data and function pointers alike
  Arg(std::nullptr_t) : text("0") {}
  explicit Arg(std::string t) : text(std::move(t)) {}
};
// A zero-terminated string argument, journalled in double quotes ("0" for a null pointer).
Arg Str(const char* s);
// A floating-point argument (%g).
Arg Dbl(double d);

// What a script tells an entry point to do.
struct Scripted {
  int action;    // STANDIN_RETURN or STANDIN_THROW
  double value;  // the value to return
};

constexpr unsigned long kStandinExceptionCode = STANDIN_EXCEPTION_CODE;

// Journals the call `name(args)` and consults the script. Returns the scripted value when the
// entry point is to return it without doing its work; when the script says so, throws
// std::runtime_error (Win32: raises structured exception STANDIN_EXCEPTION_CODE);
// std::nullopt otherwise.
std::optional<double> Enter(const char* name, std::initializer_list<Arg> args);
// Journals a line without consulting scripts (inner events worth seeing: "decode-callback(3)").
void Note(const std::string& line);

template <typename R>
R ScriptedAs(double v) {
  if constexpr (std::is_void_v<R>) {
    (void)v;
  } else if constexpr (std::is_floating_point_v<R>) {
    return static_cast<R>(v);
  } else {
    return static_cast<R>(static_cast<long long>(v));
  }
}

// Options: named integer settings a test changes with Standin_SetOption (reset by
// Standin_Reset).
std::int64_t Option(const char* name, std::int64_t defaultValue);
void SetOption(const char* name, std::int64_t value);

// Hooks a stand-in registers once (typically from a static initialiser). Fire handlers run on
// the thread that calls Standin_Fire and return its result; query handlers answer
// Standin_Query; reset handlers run on Standin_Reset (close players, forget callbacks).
using FireHandler = std::function<std::int64_t(std::int64_t port, std::int64_t a, std::int64_t b)>;
using QueryHandler = std::function<std::int64_t(std::int64_t port)>;
void OnFire(const std::string& name, FireHandler handler);
void OnQuery(const std::string& name, QueryHandler handler);
void OnReset(std::function<void()> handler);

// Registers hooks from namespace scope: `static kit::Hooks hooks([] { kit::OnFire(...); });`
struct Hooks {
  explicit Hooks(const std::function<void()>& install) { install(); }
};

// Draws a 4:2:0 picture into a window, scaled to its client area: GDI StretchDIBits on
// Windows, the in-memory window surfaces elsewhere. Returns false when nothing was drawn
// (no window, unknown window, bad picture).
bool DrawYuv(std::uint32_t wnd, const std::uint8_t* yuv, int width, int height);

}  // namespace kit

#define STANDIN_ENTER(RetType, name, ...)                                        \
  do {                                                                          \
    if (auto scripted_ = ::kit::Enter(name, {__VA_ARGS__}))                     \
      return ::kit::ScriptedAs<RetType>(*scripted_);                            \
  } while (0)
