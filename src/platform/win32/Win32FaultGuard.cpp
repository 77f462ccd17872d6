// Guarded vendor calls on Win32: a vectored exception handler turns a structured exception of
// error severity, raised on a thread inside a guarded call, into a longjmp back to the guard.
// catch (...) cannot do this: MinGW code unwinds with DWARF tables, and faults or exceptions
// raised inside a vendor library are structured exceptions. The handler is installed on the
// first guarded call and removed when this module unloads: from DllMain, since the static
// destructors of a MinGW DLL do not run when the host frees the library, and a handler left
// registered would be called in unmapped code at the host's next exception.
#include "Platform.h"  // before windows.h, whose macros would rename its constants

#include <windows.h>

#include <atomic>
#include <csetjmp>
#include <cstdint>
#include <mutex>

namespace {

thread_local std::jmp_buf* ActiveGuard = nullptr;
thread_local std::jmp_buf* LeavingGuard = nullptr;

// Where a faulted thread resumes: back to its guard's setjmp.
[[noreturn]] void LeaveFaultedCall() {
  std::jmp_buf* guard = LeavingGuard;
  LeavingGuard = nullptr;
  std::longjmp(*guard, 1);
}

LONG CALLBACK FaultHandler(EXCEPTION_POINTERS* info) {
  std::jmp_buf* guard = ActiveGuard;
  if (!guard || !info || !info->ExceptionRecord || !info->ContextRecord) return EXCEPTION_CONTINUE_SEARCH;
  // Only errors (severity bits 11: 0xC... system errors such as access violations, 0xE... C++
  // and application exceptions); informational and warning codes (debug output, thread names,
  // guard pages, breakpoints) pass on untouched.
  const DWORD code = info->ExceptionRecord->ExceptionCode;
  if ((code & 0xC0000000u) != 0xC0000000u) return EXCEPTION_CONTINUE_SEARCH;
  if (code == STATUS_STACK_OVERFLOW) return EXCEPTION_CONTINUE_SEARCH;  // no stack to go on with
  ActiveGuard = nullptr;
  LeavingGuard = guard;
  // The handler returns to the system, which resumes the thread in LeaveFaultedCall. Jumping out
  // of the handler itself would leave the system's dispatch of this exception unfinished: the
  // handler would stay marked as running, and could never be removed when the library unloads.
  // The thread resumes on its own stack just below the faulting frame, as if LeaveFaultedCall
  // had been called there; nothing is written to the stack before the system is done with it.
  CONTEXT* context = info->ContextRecord;
#if defined(_WIN64)
  context->Rsp = (context->Rsp & ~DWORD64(15)) - 8;
  context->Rip = reinterpret_cast<DWORD64>(&LeaveFaultedCall);
#else
  context->Esp = (context->Esp & ~DWORD(15)) - 4;
  context->Eip = static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(&LeaveFaultedCall));
#endif
  return EXCEPTION_CONTINUE_EXECUTION;
}

class HandlerRegistration {
 public:
  void Install() {
    std::call_once(once_, [this] { handle_ = AddVectoredExceptionHandler(1, FaultHandler); });
  }
  void Remove() {
    if (void* handle = handle_.exchange(nullptr)) RemoveVectoredExceptionHandler(handle);
  }
  ~HandlerRegistration() { Remove(); }

 private:
  std::once_flag once_;
  std::atomic<void*> handle_{nullptr};
};

HandlerRegistration Registration;

}  // namespace

// The library's entry point (in the DLL; unused where the core is linked into a program).
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_DETACH) Registration.Remove();
  return TRUE;
}

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
