// Frame head intake: DVR-type normalisation and the H3 head conversion.
#pragma once

#include <cstdint>

#include "ZorvDecoder.h"

// 1, 2, 3, 19 -> 1; 4, 5, 7 -> 4; 14, 15, 16 -> 15; any other code unchanged.
std::uint8_t NormaliseDvrType(std::uint8_t DvrType);

// Date-time value (days since 30 December 1899, fraction = time of day) of a calendar stamp.
// Out-of-range fields are carried over arithmetically (month 13 = January of the next year,
// minute 75 = 1 h 15 min); the result is always a finite number.
double EncodeFrameTime(const std::uint16_t* FrameStamp);

// Copies the 48-byte head into the 37-byte form (FrameTime from the calendar stamp; the
// day-of-week word is ignored). The DVR type is copied as given, not normalised.
TFrameHead FrameHeadFromH3(const TFrameHeadH3& Head);

// Frame type names used in log lines: "文件头", "I帧", ..., "error帧".
const char* FrameTypeName(std::uint8_t FrameType);
