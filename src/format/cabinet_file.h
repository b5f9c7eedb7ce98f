// What a cabinet stores of each file besides its bytes: the DOS date and time and the
// attribute bits. Portable: the stub applies them when it extracts, the packaging tool writes
// and shows them.
#pragma once

#include <stdint.h>

// A DOS date: years since 1980 in bits 9-15, the month (1-12) in bits 5-8, the day in bits 0-4.
constexpr uint32_t dosEpochYear = 1980;
constexpr uint16_t DosDate(uint32_t year, uint32_t month, uint32_t day)
{
    return (uint16_t)((year - dosEpochYear) << 9 | month << 5 | day);
}
constexpr uint32_t DosYear(uint16_t date) { return dosEpochYear + (date >> 9); }
constexpr uint32_t DosMonth(uint16_t date) { return date >> 5 & 15; }
constexpr uint32_t DosDay(uint16_t date) { return date & 31; }

// A DOS time: the hour in bits 11-15, the minute in bits 5-10, the second halved in bits 0-4
// (odd seconds round down).
constexpr uint16_t DosTime(uint32_t hour, uint32_t minute, uint32_t second)
{
    return (uint16_t)(hour << 11 | minute << 5 | second / 2);
}
constexpr uint32_t DosHour(uint16_t time) { return time >> 11; }
constexpr uint32_t DosMinute(uint16_t time) { return time >> 5 & 63; }
constexpr uint32_t DosSecond(uint16_t time) { return (time & 31) * 2; }

// Attribute bits. The first four are the Windows file attributes of the same names.
constexpr uint16_t cabinetAttributeReadOnly = 0x01;
constexpr uint16_t cabinetAttributeHidden = 0x02;
constexpr uint16_t cabinetAttributeSystem = 0x04;
constexpr uint16_t cabinetAttributeArchive = 0x20;
constexpr uint16_t cabinetAttributeExecute = 0x40;
// The stored name is UTF-8 rather than code page 1252.
constexpr uint16_t cabinetAttributeUtf8Name = 0x80;
