#include "announce_policy.h"

namespace {

// Codes of WM_WTSSESSION_CHANGE (wtsapi32.h), spelt out for the host build.
enum SessionCode {
    ConsoleConnect = 1,
    ConsoleDisconnect = 2,
    RemoteConnect = 3,
    RemoteDisconnect = 4,
    SessionLock = 7,
    SessionUnlock = 8,
};

bool BusyOrAway(const AnnounceSituation& situation)
{
    // StateQuietTime is a new user's first hour, not a reason for silence.
    const int state = situation.notificationState;
    return state == StateNotPresent || state == StateBusy || state == StateFullScreenDirect3D || state == StatePresentation
        || (state == StateFullScreenApp && !situation.appStateIncludesStartMenu);
}

} // namespace

bool InQuietHours(int minuteOfDay, LONG from, LONG to)
{
    if (from <= to)
        return minuteOfDay >= from && minuteOfDay < to; // from == to: never
    return minuteOfDay >= from || minuteOfDay < to;     // across midnight
}

bool ShouldAnnounce(const SYSTEMTIME& now, const AnnounceRules& rules, const AnnounceSituation& situation)
{
    // Nobody would hear it, and the synchronous player would still hold the
    // message loop for its length.
    if (situation.outputMuted)
        return false;
    // The user asked (and is at the desk to click): quiet hours, a busy
    // screen and a stale lock state do not silence that.
    if (situation.trigger == SpeakNowTrigger)
        return true;
    // A tick ten seconds late or more (after the PC wakes, a clock just set)
    // says nothing rather than a stale time.
    if (now.wSecond >= 10 || rules.voiceInterval == 0 || now.wMinute % rules.voiceInterval != 0)
        return false;
    if (situation.sessionAway)
        return false;
    if (rules.quietHours && InQuietHours(now.wHour * 60 + now.wMinute, rules.quietFrom, rules.quietTo))
        return false;
    return !(rules.quietWhenBusy && BusyOrAway(situation));
}

void NoteSessionChange(SessionState* state, unsigned code)
{
    switch (code) {
    case SessionLock:
        state->locked = true;
        break;
    case SessionUnlock:
        state->locked = false;
        break;
    case ConsoleDisconnect:
    case RemoteDisconnect:
        state->disconnected = true;
        break;
    case ConsoleConnect:
    case RemoteConnect:
        state->disconnected = false;
        break;
    }
}
