// When the talking clock speaks: the rules for the minute tick and for
// "今の時刻を話す", over plain values (the situation is gathered elsewhere),
// so that the whole table runs on the host.
#pragma once

#include "win_types.h"

// The answers of SHQueryUserNotificationState (QUERY_USER_NOTIFICATION_STATE);
// 0 when the system has no such query or it failed.
enum UserNotificationState {
    StateUnknown = 0,
    StateNotPresent = 1,       // screen saver running, session locked, user switched away
    StateBusy = 2,             // a full-screen application
    StateFullScreenDirect3D = 3,   // a full-screen Direct3D game or film
    StatePresentation = 4,     // presentation settings are on
    StateAcceptsNotifications = 5,
    StateQuietTime = 6,            // the first hour after a new user's first logon
    StateFullScreenApp = 7,        // Windows 8 and later: a full-screen app
};

enum AnnounceTrigger { MinuteTickTrigger, SpeakNowTrigger };

struct AnnounceSituation {
    AnnounceTrigger trigger;
    int notificationState; // a UserNotificationState
    bool sessionAway;      // the session is locked or disconnected
    bool outputMuted;      // the default output device is muted or at volume 0
    // Windows 10 and later report StateFullScreenApp also while the Start
    // menu is open: then it says nothing about a full-screen program.
    bool appStateIncludesStartMenu;
};

// The settings that decide, as the per-user record holds them.
struct AnnounceRules {
    LONG voiceInterval; // minutes: 0 none, 60 hourly, 30 half-hourly
    LONG quietHours;    // 0 or 1
    LONG quietFrom;     // minute of the local day, 0 to 1439
    LONG quietTo;       // the first minute that may speak again
    LONG quietWhenBusy; // 0 or 1
};

// Whether `minuteOfDay` lies in [from, to), which may cross midnight;
// from == to is never quiet.
bool InQuietHours(int minuteOfDay, LONG from, LONG to);
// Whether an announcement of `now` is to be played.
bool ShouldAnnounce(const SYSTEMTIME& now, const AnnounceRules& rules, const AnnounceSituation& situation);

// The session's state as WM_WTSSESSION_CHANGE reports it; until a
// notification says otherwise the session counts as present.
struct SessionState {
    bool locked;
    bool disconnected;
};
// Applies one notification code (WTS_SESSION_LOCK and the others).
void NoteSessionChange(SessionState* state, unsigned code);
