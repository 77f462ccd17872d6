/* Control interface every stand-in vendor library exports. A test loads the stand-in file
 * (the same path the library under test loads, so both share one instance) and calls these
 * through GetProcAddress. Plain C calling convention in both builds.
 *
 * Journal text: one call per line, "Name(arg,arg,...)\n", oldest first.
 */
#ifndef ZORV_STANDIN_CONTROL_H
#define ZORV_STANDIN_CONTROL_H

#include <stdint.h>

#define STANDIN_RETURN 1 /* return the scripted value without doing the work */
#define STANDIN_THROW 2  /* fail with an exception: a C++ exception natively; on Win32 a structured
                            exception with code STANDIN_EXCEPTION_CODE (RaiseException) */
#define STANDIN_EXCEPTION_CODE 0xE05A5254u
#define STANDIN_FAULT 3 /* write through a null pointer: an access violation on Win32 (a crash elsewhere) */
#define STANDIN_HANG 4  /* block the calling thread for `value` ms, then do the work as usual */

#ifdef __cplusplus
extern "C" {
#endif

/* Copies the journal text (zero-terminated, truncated to capacity) and returns its full
 * length in bytes without the terminator. buffer may be NULL to ask for the length. */
typedef int32_t (*Standin_ReadJournal_t)(char* buffer, int32_t capacity);
/* Empties the journal. */
typedef void (*Standin_ClearJournal_t)(void);
/* Scripts the entry point `entry`: for the next `count` calls (-1 = until reset), do
 * `action` (STANDIN_RETURN with `value`, STANDIN_THROW, STANDIN_FAULT, or STANDIN_HANG for `value` ms). action 0 removes the script.
 * Scripted calls are still journalled. */
typedef void (*Standin_Script_t)(const char* entry, int32_t action, double value, int32_t count);
/* Sets a named integer option of the stand-in (documented by each stand-in). */
typedef void (*Standin_SetOption_t)(const char* name, int64_t value);
/* Makes the stand-in do a named thing now, on the calling thread (typically: call one of its
 * registered callbacks for `port`). Returns the handler's result, -1 for an unknown name. */
typedef int64_t (*Standin_Fire_t)(const char* name, int64_t port, int64_t a, int64_t b);
/* Reads a named inner value of the stand-in (for a port where it matters); -1 when unknown. */
typedef int64_t (*Standin_Query_t)(const char* name, int64_t port);
/* Back to the state after loading: players closed, journal, scripts and options cleared. */
typedef void (*Standin_Reset_t)(void);

#ifdef __cplusplus
}
#endif

#endif /* ZORV_STANDIN_CONTROL_H */
