// WriteLog: one line per event on the debug output.
//
// Line: "yymmdd-hh:nn:ss:zzz|<pid>,<TID as 8 upper-case hex digits>| <message>", no line end.
// Messages are UTF-8 texts in the source; there are no levels and no log file.
#pragma once

#include <cstdint>
#include <string>

// Level is accepted and not used (every caller passes 1).
void WriteLog(const std::string& Msg, std::int32_t Level = 1);

// Local date and time of one log line.
struct TLogTime {
  int Year, Month, Day, Hour, Minute, Second, Millisecond;
};

// Builds the line WriteLog hands to the debug output.
std::string FormatLogLine(const TLogTime& Time, std::uint32_t ProcessId, std::uint32_t ThreadId,
                          const std::string& Msg);
