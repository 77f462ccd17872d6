#include "U_Log.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "Platform.h"

std::string FormatLogLine(const TLogTime& Time, std::uint32_t ProcessId, std::uint32_t ThreadId,
                          const std::string& Msg) {
  char Prefix[64];
  std::snprintf(Prefix, sizeof Prefix, "%02d%02d%02d-%02d:%02d:%02d:%03d|%u,%08X| ", Time.Year % 100,
                Time.Month, Time.Day, Time.Hour, Time.Minute, Time.Second, Time.Millisecond,
                static_cast<unsigned>(ProcessId), static_cast<unsigned>(ThreadId));
  std::string Line(Prefix);
  Line += Msg;
  return Line;
}

void WriteLog(const std::string& Msg, std::int32_t /*Level*/) {
  using namespace std::chrono;
  const auto Now = system_clock::now();
  const std::time_t Seconds = system_clock::to_time_t(Now);
  const int Millisecond =
      static_cast<int>(duration_cast<milliseconds>(Now.time_since_epoch()).count() % 1000);
  std::tm Local{};
#ifdef _WIN32
  // The Windows C runtime keeps localtime's result per thread.
  if (const std::tm* T = std::localtime(&Seconds)) Local = *T;
#else
  localtime_r(&Seconds, &Local);
#endif
  const TLogTime Time{Local.tm_year + 1900, Local.tm_mon + 1, Local.tm_mday, Local.tm_hour,
                      Local.tm_min,        Local.tm_sec,     Millisecond};
  const std::string Line =
      FormatLogLine(Time, Win::GetCurrentProcessId(), Win::GetCurrentThreadId(), Msg);
  Win::OutputDebugStringA(Line.c_str());
}
