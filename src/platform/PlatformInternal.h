// What the two implementations of Platform.h share (PlatformCommon.cpp).
#pragma once

#include <string>

namespace Win::Detail {

// Sleeps for `ms` real milliseconds (fractions allowed); the implementation's own timer.
void SleepReal(double ms);

// Hands one debug-output line to the in-memory capture and to the sink chosen by
// ZORV_DEBUG_OUTPUT (or Test::SetDebugOutputSink). `text` is UTF-8.
void DebugOutputToSinks(const char* text);

// Loader journal (Test::RecordLoaderCalls): a successful load of `path`, and a free of `module`.
void NoteLoad(const char* path, void* module);
void NoteFree(void* module);

}  // namespace Win::Detail
