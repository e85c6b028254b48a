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

// Unix seconds of the NTP seconds of era 0 from 1970 on; they fit a signed
// 32-bit time value, which is all the calendar conversions accept.
bool ToUnixTime(uint32_t ntpSeconds, time_t* out)
{
    if (ntpSeconds < NtpEpochOffset)
        return false;
    *out = time_t(int32_t(ntpSeconds - NtpEpochOffset));
    return true;
}

bool BreakDown(time_t t, struct tm* out, bool local)
{
#ifdef _WIN32
    // msvcrt keeps the result in a per-thread buffer.
    const struct tm* r = local ? localtime(&t) : gmtime(&t);
    if (!r)
        return false;
    *out = *r;
    return true;
#else
    return (local ? localtime_r(&t, out) : gmtime_r(&t, out)) != nullptr;
#endif
}

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

bool NtpTimestamp::toUtcSystemTime(SYSTEMTIME* out) const
{
    time_t t;
    struct tm parts;
    if (!ToUnixTime(seconds_, &t) || !BreakDown(t, &parts, false))
        return false;
    std::memset(out, 0, sizeof *out);
    out->wYear = WORD(parts.tm_year + 1900);
    out->wMonth = WORD(parts.tm_mon + 1);
    out->wDay = WORD(parts.tm_mday);
    out->wHour = WORD(parts.tm_hour);
    out->wMinute = WORD(parts.tm_min);
    out->wSecond = WORD(parts.tm_sec);
    // 1000 / 2^32, exact: floor(fraction * 1000 / 2^32).
    out->wMilliseconds = WORD(double(fraction_) * 2.3283064365386963e-7);
    return true;
}

bool NtpTimestamp::toLocalTime(struct tm* out) const
{
    time_t t;
    return ToUnixTime(seconds_, &t) && BreakDown(t, out, true);
}

void BuildNtpRequest(const NtpTimestamp& transmit, uint8_t packet[NtpPacketSize])
{
    std::memset(packet, 0, NtpPacketSize);
    packet[0] = 0x1B; // LI 0, VN 3, Mode 3 (client)
    transmit.toNetwork(packet + NtpTransmitOffset);
}
