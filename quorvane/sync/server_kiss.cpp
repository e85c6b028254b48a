#include "server_kiss.h"

#include <cstring>

ServerKiss g_serverKiss;

namespace {

// Codes belong to the server name they came from.
void SwitchServer(ServerKiss* kiss, const char* server)
{
    if (strncmp(kiss->server, server, sizeof kiss->server - 1) == 0)
        return;
    memset(kiss, 0, sizeof *kiss);
    CopyServerName(kiss->server, server);
}

} // namespace

void CopyServerName(char out[256], const char* server)
{
    size_t length = strnlen(server, 255);
    memcpy(out, server, length);
    out[length] = '\0';
}

void NoteServerVerdict(ServerKiss* kiss, const char* server, ReplyVerdict verdict)
{
    if (verdict != ReplyKissRate && verdict != ReplyKissDeny && verdict != ReplyFinished)
        return;
    SwitchServer(kiss, server);
    if (verdict == ReplyKissDeny)
        kiss->denied = true;
    else if (verdict == ReplyKissRate)
        kiss->rateNew = true;
    else
        kiss->rateHold = 0; // answered normally: the next RATE starts from the interval
}

uint32_t NextRateHold(uint32_t lastHold, uint32_t intervalMinutes)
{
    const uint32_t base = lastHold > intervalMinutes ? lastHold : intervalMinutes;
    if (base >= MaxRateHoldMinutes / 2)
        return MaxRateHoldMinutes;
    return base * 2 > 0 ? base * 2 : 2;
}

bool KissAllowsAutomaticAttempt(ServerKiss* kiss, const char* server, uint32_t intervalMinutes)
{
    SwitchServer(kiss, server);
    if (kiss->denied)
        return false;
    if (kiss->rateNew) {
        kiss->rateNew = false;
        kiss->rateHold = NextRateHold(kiss->rateHold, intervalMinutes);
        kiss->holdLeft = kiss->rateHold;
    }
    if (kiss->holdLeft == 0)
        return true;
    --kiss->holdLeft;
    return false;
}
