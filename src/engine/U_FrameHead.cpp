#include "U_FrameHead.h"

#include <cstring>

std::uint8_t NormaliseDvrType(std::uint8_t DvrType) {
  switch (DvrType) {
    case 1: case 2: case 3: case 19: return 1;
    case 4: case 5: case 7: return 4;
    case 14: case 15: case 16: return 15;
    default: return DvrType;
  }
}

namespace {
// Days from 1970-01-01 of a proleptic Gregorian date (month 1..12).
std::int64_t DaysFromCivil(std::int64_t Year, std::int64_t Month, std::int64_t Day) {
  Year -= Month <= 2;
  const std::int64_t Era = (Year >= 0 ? Year : Year - 399) / 400;
  const std::int64_t YearOfEra = Year - Era * 400;
  const std::int64_t DayOfYear = (153 * (Month + (Month > 2 ? -3 : 9)) + 2) / 5 + Day - 1;
  const std::int64_t DayOfEra = YearOfEra * 365 + YearOfEra / 4 - YearOfEra / 100 + DayOfYear;
  return Era * 146097 + DayOfEra - 719468;
}
}  // namespace

double EncodeFrameTime(const std::uint16_t* FrameStamp) {
  std::int64_t Year = FrameStamp[0];
  std::int64_t Month = FrameStamp[1];  // FrameStamp[2] is the day of week: ignored
  const std::int64_t Day = FrameStamp[3];
  // Month 0 is December of the year before, 13 January of the next; days carry likewise.
  const std::int64_t MonthIndex = Year * 12 + Month - 1;
  Year = (MonthIndex >= 0 ? MonthIndex : MonthIndex - 11) / 12;
  Month = MonthIndex - Year * 12 + 1;
  static const std::int64_t Epoch = DaysFromCivil(1899, 12, 30);
  const std::int64_t Days = DaysFromCivil(Year, Month, 1) + (Day - 1) - Epoch;
  const std::int64_t Ms = FrameStamp[4] * 3600000LL + FrameStamp[5] * 60000LL +
                          FrameStamp[6] * 1000LL + FrameStamp[7];
  return static_cast<double>(Days) + static_cast<double>(Ms) / 86400000.0;
}

TFrameHead FrameHeadFromH3(const TFrameHeadH3& Head) {
  TFrameHead Out;
  std::memset(&Out, 0, sizeof Out);
  Out.Channel = Head.Channel;
  Out.Wnd = Head.Wnd;
  Out.Spare1 = Head.Spare1;
  Out.HardChannel = Head.HardChannel;
  Out.Spare2 = Head.Spare2;
  Out.DataLen = Head.DataLen;
  Out.FrameType = Head.FrameType;
  Out.DvrType = Head.DvrType;
  std::uint16_t Stamp[8];
  std::memcpy(Stamp, Head.FrameStamp, sizeof Stamp);
  Out.FrameTime = EncodeFrameTime(Stamp);
  Out.Group = Head.Group;
  Out.HardIndex = Head.HardIndex;
  Out.DecodeMode = Head.DecodeMode;
  return Out;
}

const char* FrameTypeName(std::uint8_t FrameType) {
  switch (FrameType) {
    case 1: return "文件头";
    case 2: return "I帧";
    case 3: return "B帧";
    case 4: return "P帧";
    case 5: return "BP帧";
    case 6: return "BBP帧";
    case 7: return "Audio帧";
    default: return "error帧";
  }
}
