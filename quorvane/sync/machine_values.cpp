#include "machine_values.h"

#include <cstdint>
#include <cstring>

namespace {

const char Digits[] = "0123456789abcdef";

int DigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The next value: a run of characters up to a space or the end.
bool NextToken(const char** cursor, const char** start, size_t* length)
{
    const char* p = *cursor;
    while (*p == ' ' || *p == '\t')
        ++p;
    *start = p;
    while (*p && *p != ' ' && *p != '\t')
        ++p;
    *length = size_t(p - *start);
    *cursor = p;
    return *length > 0;
}

bool DecodeNumber(const char** cursor, LONG* value)
{
    const char* token;
    size_t length;
    if (!NextToken(cursor, &token, &length) || length != 8)
        return false;
    uint32_t number = 0;
    for (size_t i = 0; i < 8; ++i) {
        const int digit = DigitValue(token[i]);
        if (digit < 0)
            return false;
        number = number << 4 | uint32_t(digit);
    }
    *value = LONG(int32_t(number));
    return true;
}

bool DecodeServer(const char** cursor, char (&server)[256])
{
    const char* token;
    size_t length;
    // Up to 255 bytes and the final 00, two digits each.
    if (!NextToken(cursor, &token, &length) || length % 2 != 0 || length < 2 || length > 2 * 256)
        return false;
    const size_t bytes = length / 2;
    for (size_t i = 0; i < bytes; ++i) {
        const int high = DigitValue(token[2 * i]), low = DigitValue(token[2 * i + 1]);
        if (high < 0 || low < 0)
            return false;
        server[i] = char(high << 4 | low);
        // The one NUL is the last byte.
        if ((server[i] == '\0') != (i == bytes - 1))
            return false;
    }
    return true;
}

} // namespace

bool MachineSettingsInRange(const MachineSettings& settings)
{
    return (settings.Sync == 0 || settings.Sync == 1) && settings.SyncInterval >= 1 && settings.SyncInterval <= 1440
        && settings.MaxDelay >= 1 && settings.MaxDelay <= 1000 && settings.Tolerance >= 0
        && settings.Tolerance <= 1000 && settings.TimeShift >= -300 && settings.TimeShift <= 300
        && memchr(settings.Server, '\0', sizeof settings.Server) != nullptr;
}

bool EncodeMachineArguments(const MachineSettings& settings, char* out, size_t size)
{
    const size_t server = strnlen(settings.Server, sizeof settings.Server - 1);
    // Server digits and its 00, five numbers of 8 digits, six separators, the NUL.
    if (size < 2 * (server + 1) + 5 * 8 + 6 + 1)
        return false;
    char* p = out;
    for (size_t i = 0; i <= server; ++i) {
        const uint8_t byte = i < server ? uint8_t(settings.Server[i]) : 0;
        *p++ = Digits[byte >> 4];
        *p++ = Digits[byte & 15];
    }
    const LONG numbers[] = {settings.Sync, settings.SyncInterval, settings.MaxDelay, settings.Tolerance,
                            settings.TimeShift};
    for (LONG number : numbers) {
        *p++ = ' ';
        for (int shift = 28; shift >= 0; shift -= 4)
            *p++ = Digits[(uint32_t(number) >> shift) & 15];
    }
    *p = '\0';
    return true;
}

bool DecodeMachineArguments(const char* arguments, MachineSettings* settings)
{
    const char* cursor = arguments;
    if (!DecodeServer(&cursor, settings->Server) || !DecodeNumber(&cursor, &settings->Sync)
        || !DecodeNumber(&cursor, &settings->SyncInterval) || !DecodeNumber(&cursor, &settings->MaxDelay)
        || !DecodeNumber(&cursor, &settings->Tolerance) || !DecodeNumber(&cursor, &settings->TimeShift))
        return false;
    const char* rest;
    size_t length;
    return !NextToken(&cursor, &rest, &length) && MachineSettingsInRange(*settings);
}
