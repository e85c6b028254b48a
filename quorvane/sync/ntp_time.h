// NTP time values and the 48-byte SNTP packet.
#pragma once

#include <cstdint>
#include <ctime>

#include "win_types.h"

// Seconds from 1900-01-01 (NTP era 0) to 1970-01-01 (Unix epoch).
constexpr uint32_t NtpEpochOffset = 2208988800u;
// A FILETIME counts 100-ns units from 1601-01-01; 1601 to 1900 is 299 years.
constexpr uint64_t FileTimeTicksPerSecond = 10000000u;
constexpr uint64_t FileTimeToNtpSeconds = 9435484800u;
// NTP era 1 begins at 2036-02-07 06:28:16 UTC: this FILETIME count.
constexpr uint64_t Era1Start = (FileTimeToNtpSeconds + (1ull << 32)) * FileTimeTicksPerSecond;

// A time or a time difference in NTP's 64-bit fixed-point format: `seconds`
// is the high word, `fraction` the low word in units of 2^-32 s. `carry`
// counts wrap-arounds of add (+1) and subtract (-1); after a subtraction a
// negative carry means the true result is negative and the words hold its
// two's complement.
class NtpTimestamp {
public:
    NtpTimestamp() = default;
    NtpTimestamp(uint32_t seconds, uint32_t fraction) : seconds_(seconds), fraction_(fraction) {}
    // A copy never inherits the source's carry.
    NtpTimestamp(const NtpTimestamp& other) : seconds_(other.seconds_), fraction_(other.fraction_) {}
    NtpTimestamp& operator=(const NtpTimestamp& other)
    {
        set(other.seconds_, other.fraction_);
        return *this;
    }

    void set(uint32_t seconds, uint32_t fraction)
    {
        seconds_ = seconds;
        fraction_ = fraction;
        carry_ = 0;
    }

    // The current UTC time of the local clock, from one reading of it.
    static NtpTimestamp now();
    // From a FILETIME count (100-ns units since 1601-01-01 UTC).
    static NtpTimestamp fromFileTime(uint64_t ticks);
    // From / to 8 bytes in network byte order (seconds, then fraction).
    static NtpTimestamp fromNetwork(const uint8_t bytes[8]);
    void toNetwork(uint8_t bytes[8]) const;

    uint32_t seconds() const { return seconds_; }
    uint32_t fraction() const { return fraction_; }
    int32_t carry() const { return carry_; }
    // floor(fraction * 10^6 / 2^32): 0 to 999999.
    uint32_t microseconds() const;

    void add(const NtpTimestamp& other);
    void subtract(const NtpTimestamp& other);
    // Turns a negative difference (carry exactly -1) into its magnitude.
    void makeAbsolute();
    // Logical shift right of the 64-bit value by one bit.
    void halve();

    // The FILETIME count of this time, read in NTP era 0 when the top bit of
    // the seconds is set and in era 1 (from 2036-02-07) when it is clear.
    uint64_t toFileTime() const;
    // Calendar conversions through toFileTime; they fail for times before
    // 1970-01-01.
    bool toUtcSystemTime(SYSTEMTIME* out) const;
    bool toLocalTime(struct tm* out) const;

private:
    uint32_t seconds_ = 0;
    uint32_t fraction_ = 0;
    int32_t carry_ = 0;
};


// a - b in FILETIME units (100 ns), signed; exact for times less than 68 years
// apart, in whichever eras they lie.
int64_t DifferenceTicks(const NtpTimestamp& a, const NtpTimestamp& b);

// The UTC calendar date and time of a FILETIME count (wMilliseconds
// included), for any time from 1601 to 30827.
void FileTimeToUtcCalendar(uint64_t ticks, SYSTEMTIME* out);

// The SNTP message, RFC 2030 layout, big-endian.
constexpr int NtpPacketSize = 48;
constexpr int NtpOriginateOffset = 24;
constexpr int NtpReceiveOffset = 32;
constexpr int NtpTransmitOffset = 40;

// Fills a client request: all zero but LI 0 / VN 3 / Mode 3 and the transmit
// timestamp.
void BuildNtpRequest(const NtpTimestamp& transmit, uint8_t packet[NtpPacketSize]);
