// Guarded vendor calls on Win32: a vectored exception handler turns a structured exception of
// error severity, raised on a thread inside a guarded call, into a longjmp back to the guard.
// catch (...) cannot do this: MinGW code unwinds with DWARF tables, and faults or exceptions
// raised inside a vendor library are structured exceptions. The handler is installed on the
// first guarded call and removed when this module unloads.
#include "Platform.h"  // before windows.h, whose macros would rename its constants

#include <windows.h>

#include <csetjmp>
#include <mutex>

namespace {

thread_local std::jmp_buf* ActiveGuard = nullptr;

LONG CALLBACK FaultHandler(EXCEPTION_POINTERS* info) {
  std::jmp_buf* guard = ActiveGuard;
  if (!guard || !info || !info->ExceptionRecord) return EXCEPTION_CONTINUE_SEARCH;
  // Only errors (severity bits 11: 0xC... system errors such as access violations, 0xE... C++
  // and application exceptions); informational and warning codes (debug output, thread names,
  // guard pages, breakpoints) pass on untouched.
  const DWORD code = info->ExceptionRecord->ExceptionCode;
  if ((code & 0xC0000000u) != 0xC0000000u) return EXCEPTION_CONTINUE_SEARCH;
  if (code == STATUS_STACK_OVERFLOW) return EXCEPTION_CONTINUE_SEARCH;  // no stack to go on with
  ActiveGuard = nullptr;
  std::longjmp(*guard, 1);
}

class HandlerRegistration {
 public:
  void Install() {
    std::call_once(once_, [this] { handle_ = AddVectoredExceptionHandler(1, FaultHandler); });
  }
  ~HandlerRegistration() {
    if (handle_) RemoveVectoredExceptionHandler(handle_);
  }

 private:
  std::once_flag once_;
  void* handle_ = nullptr;
};

HandlerRegistration Registration;

}  // namespace

namespace Win {

bool CallCatchingFaults(void (*call)(void*), void* context) {
  Registration.Install();
  std::jmp_buf* volatile outer = ActiveGuard;
  std::jmp_buf jump;
  if (setjmp(jump) != 0) {
    ActiveGuard = outer;
    return false;
  }
  ActiveGuard = &jump;
  call(context);
  ActiveGuard = outer;
  return true;
}

}  // namespace Win
