#include "ntp_time.h"

#include <cstring>

#include "clock.h"

namespace {

uint32_t ReadBigEndian32(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

void WriteBigEndian32(uint32_t value, uint8_t* p)
{
    p[0] = uint8_t(value >> 24);
    p[1] = uint8_t(value >> 16);
    p[2] = uint8_t(value >> 8);
    p[3] = uint8_t(value);
}

// Days from 1970-01-01 to the civil date of day `days` (proleptic Gregorian),
// for any day from 1601 on: no calendar function of the C library is needed,
// so no 32-bit time value limits the dates.
void CivilFromDays(int64_t days, int* year, int* month, int* day)
{
    days += 719468; // from 0000-03-01
    const int64_t era = days / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthIndex = (5 * dayOfYear + 2) / 153; // March = 0
    *day = int(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    *month = int(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    *year = int(yearOfEra + era * 400 + (*month <= 2 ? 1 : 0));
}

// FILETIME ticks of 1970-01-01 00:00:00 UTC.
const uint64_t UnixEpochTicks = 116444736000000000ull;

} // namespace

NtpTimestamp NtpTimestamp::now()
{
    return fromFileTime(ReadSystemClock());
}

NtpTimestamp NtpTimestamp::fromFileTime(uint64_t ticks)
{
    // Seconds and their fraction come from the same reading, so a second
    // boundary between two readings can never put the value a second off.
    const uint64_t seconds = ticks / FileTimeTicksPerSecond;
    const uint64_t rest = ticks % FileTimeTicksPerSecond;
    // Era 0 ends in 2036; later times wrap into era 1 like NTP's seconds do.
    return NtpTimestamp(uint32_t(seconds - FileTimeToNtpSeconds),
                        uint32_t((rest << 32) / FileTimeTicksPerSecond));
}

NtpTimestamp NtpTimestamp::fromNetwork(const uint8_t bytes[8])
{
    return NtpTimestamp(ReadBigEndian32(bytes), ReadBigEndian32(bytes + 4));
}

void NtpTimestamp::toNetwork(uint8_t bytes[8]) const
{
    WriteBigEndian32(seconds_, bytes);
    WriteBigEndian32(fraction_, bytes + 4);
}

uint32_t NtpTimestamp::microseconds() const
{
    // 10^6 / 2^32; the product is exact in double precision.
    return uint32_t(double(fraction_) * 0.00023283064365386963);
}

void NtpTimestamp::add(const NtpTimestamp& other)
{
    fraction_ += other.fraction_;
    seconds_ += other.seconds_ + (fraction_ < other.fraction_ ? 1u : 0u);
    if (seconds_ < other.seconds_)
        ++carry_;
}

void NtpTimestamp::subtract(const NtpTimestamp& other)
{
    const uint32_t oldSeconds = seconds_;
    seconds_ -= other.seconds_ + (fraction_ < other.fraction_ ? 1u : 0u);
    fraction_ -= other.fraction_;
    if (seconds_ > oldSeconds)
        --carry_;
}

void NtpTimestamp::makeAbsolute()
{
    if (carry_ != -1)
        return;
    seconds_ = ~seconds_;
    fraction_ = ~fraction_ + 1;
    if (fraction_ == 0)
        ++seconds_;
    carry_ = 0;
}

void NtpTimestamp::halve()
{
    fraction_ = (fraction_ >> 1) | (seconds_ << 31);
    seconds_ >>= 1;
}

uint64_t NtpTimestamp::toFileTime() const
{
    // Seconds with the top bit clear lie in era 1 (2036-02-07 06:28:16 UTC on),
    // those with it set in era 0 (1968 to 2036).
    const uint64_t era = (seconds_ & 0x80000000u) ? 0 : 1;
    const uint64_t seconds = (era << 32) + seconds_ + FileTimeToNtpSeconds;
    return seconds * FileTimeTicksPerSecond + ((uint64_t(fraction_) * FileTimeTicksPerSecond) >> 32);
}

bool NtpTimestamp::toUtcSystemTime(SYSTEMTIME* out) const
{
    const uint64_t ticks = toFileTime();
    if (ticks < UnixEpochTicks)
        return false; // 1968 to 1969: no clock is set to that
    FileTimeToUtcCalendar(ticks, out);
    // 1000 / 2^32, exact: floor(fraction * 1000 / 2^32).
    out->wMilliseconds = WORD(double(fraction_) * 2.3283064365386963e-7);
    return true;
}

bool NtpTimestamp::toLocalTime(struct tm* out) const
{
    const uint64_t ticks = toFileTime();
    SYSTEMTIME local;
    if (ticks < UnixEpochTicks || !UtcToLocalTime(ticks, &local))
        return false;
    std::memset(out, 0, sizeof *out);
    out->tm_year = local.wYear - 1900;
    out->tm_mon = local.wMonth - 1;
    out->tm_mday = local.wDay;
    out->tm_hour = local.wHour;
    out->tm_min = local.wMinute;
    out->tm_sec = local.wSecond;
    out->tm_wday = local.wDayOfWeek;
    out->tm_isdst = -1;
    return true;
}

void FileTimeToUtcCalendar(uint64_t ticks, SYSTEMTIME* out)
{
    const uint64_t seconds = ticks / FileTimeTicksPerSecond;
    const int64_t days = int64_t(seconds / 86400) - int64_t(UnixEpochTicks / FileTimeTicksPerSecond / 86400);
    const uint32_t secondOfDay = uint32_t(seconds % 86400);
    int year, month, day;
    CivilFromDays(days, &year, &month, &day);
    std::memset(out, 0, sizeof *out);
    out->wYear = WORD(year);
    out->wMonth = WORD(month);
    out->wDay = WORD(day);
    out->wDayOfWeek = WORD(((days % 7) + 7 + 4) % 7); // 1970-01-01 was a Thursday
    out->wHour = WORD(secondOfDay / 3600);
    out->wMinute = WORD(secondOfDay / 60 % 60);
    out->wSecond = WORD(secondOfDay % 60);
    out->wMilliseconds = WORD(ticks % FileTimeTicksPerSecond / 10000);
}

int64_t DifferenceTicks(const NtpTimestamp& a, const NtpTimestamp& b)
{
    // Modulo 2^64 in NTP's fixed point, read as signed: right across an era
    // boundary for any two times less than 68 years apart.
    const uint64_t fixedA = (uint64_t(a.seconds()) << 32) | a.fraction();
    const uint64_t fixedB = (uint64_t(b.seconds()) << 32) | b.fraction();
    const int64_t difference = int64_t(fixedA - fixedB);
    const int64_t whole = difference >> 32; // floor, also for a negative difference
    const uint64_t part = uint64_t(difference) & 0xFFFFFFFFu;
    return whole * int64_t(FileTimeTicksPerSecond) + int64_t((part * FileTimeTicksPerSecond) >> 32);
}

void BuildNtpRequest(const NtpTimestamp& transmit, uint8_t packet[NtpPacketSize])
{
    std::memset(packet, 0, NtpPacketSize);
    packet[0] = 0x1B; // LI 0, VN 3, Mode 3 (client)
    transmit.toNetwork(packet + NtpTransmitOffset);
}
