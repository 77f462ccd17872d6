// WriteLog: one line per event on the debug output.
//
// Line: "yymmdd-hh:nn:ss:zzz|<pid>,<TID as 8 upper-case hex digits>| <message>", no line end.
// Messages are UTF-8 texts in the source; there are no levels and no log file.
#pragma once

#include <cstdint>
#include <string>

// Level is accepted and not used (every caller passes 1).
void WriteLog(const std::string& Msg, std::int32_t Level = 1);

// The tail most adapter lines end with: the display channel, then "播放器序号:" and the
// player number (or vendor port).
inline std::string ChannelAndPlayer(std::uint32_t Channel, std::int64_t Player) {
  return std::to_string(Channel) + "播放器序号:" + std::to_string(Player);
}

// Local date and time of one log line.
struct TLogTime {
  int Year, Month, Day, Hour, Minute, Second, Millisecond;
};

// Builds the line WriteLog hands to the debug output.
std::string FormatLogLine(const TLogTime& Time, std::uint32_t ProcessId, std::uint32_t ThreadId,
                          const std::string& Msg);
