// Whether the clock is being kept right, worked out afresh each time it is
// shown, and the texts that tell it: the second line of the icon's tip, the
// About box's lines and the balloon. Times are UTC FILETIME counts (100 ns
// since 1601), 0 where unknown; offsets are the server's time minus the PC's
// in 100 ns.
#pragma once

#include <cstddef>
#include <cstdint>

#include "win_types.h"

// In the order in which they are tested: the first that applies holds.
enum ClockHealth {
    HealthOff,            // automatic synchronisation is off
    HealthDomain,         // the service stands aside for the domain's time
    HealthServiceStopped, // the service that keeps the clock does not run
    HealthNotCorrected,   // answers came, but the last attempt could not correct the clock
    HealthStale,          // no good synchronisation for too long
    HealthNever,          // never a good one, and StaleFailures failures or more
    HealthNotYet,         // none yet, and fewer than StaleFailures failures
    HealthGood,
};

constexpr uint64_t FileTimeSecond = 10000000;
constexpr uint64_t FileTimeMinute = 60 * FileTimeSecond;
constexpr uint64_t FileTimeHour = 60 * FileTimeMinute;
// Attempts in a row without a good outcome that make a clock that was never
// synchronised a cause for alarm.
constexpr uint32_t StaleFailures = 3;
// The clock service starts delayed, about two minutes after boot: until the
// system has run this long a service that has not started since boot is no
// cause for alarm. One that ran and stopped is.
constexpr uint32_t ServiceStartGraceMs = 15 * 60 * 1000;
// A stale clock alarms only with fresh evidence: a failed attempt made after
// it became stale, or this long since the program started and since the PC
// last woke up (the first attempt after a weekend off will likely succeed).
constexpr uint32_t StaleEvidenceMs = 10 * 60 * 1000;

struct HealthFacts {
    uint64_t now;
    uint64_t lastSync;      // the last setting of the clock
    uint64_t lastGood;      // the clock read after the last good attempt (set, or within tolerance)
    uint64_t lastAttempt;   // the start of the last attempt
    uint32_t failures;      // attempts in a row without a good outcome
    uint32_t lastResult;    // the last attempt's last line (its string-table ID), 0: unknown
    int32_t syncInterval;   // minutes between automatic attempts
    bool syncOn;
    bool serviceMode;       // the clock service keeps the clock
    bool serviceRunning;
    bool serviceNeverStarted; // not running, and not started since boot (exit code 1077)
};

// How long the system and this program have been up, for the alarms that
// wait: milliseconds since boot, and since this program started or the PC
// last woke up, whichever is later.
struct WarningClock {
    uint32_t uptimeMs;
    uint32_t settledMs;
};

// The later of the last setting and the last good attempt.
uint64_t LastGoodSynchronisation(const HealthFacts& facts);
// Whether a last line says that answers came but the clock could not be
// corrected: servers that disagree (12324), a step refused (12325), a
// setting that failed (12310).
bool LeavesClockUncorrected(uint32_t lastResult);
ClockHealth EvaluateClockHealth(const HealthFacts& facts);
// Whether the state shows the warning mark on the icon and deserves a
// balloon: an uncorrected clock at once; a stale one (or one never
// synchronised) once the evidence is fresh; a stopped service at once if it
// ran and stopped, after the start-up grace if it never started since boot.
bool HealthWarns(ClockHealth health, const HealthFacts& facts, const WarningClock& clock);

// A warning the user was told of with a balloon: its state and the last
// good synchronisation at the time. Kept per user, so that a new logon does
// not tell the same episode again.
struct HealthEpisode {
    uint32_t health; // a ClockHealth; HealthGood: none
    uint64_t lastGood;
};

// Whether the state is one of the warnings (whether or not it shows yet).
bool IsWarningState(ClockHealth health);
// Whether a warning shown now deserves a balloon: a new cause, or the same
// cause after a good synchronisation in between, is a new episode.
bool NewHealthEpisode(ClockHealth health, uint64_t lastGood, const HealthEpisode& told);

// "+1.23" for an offset of 12300000 with 2 decimals: the sign, the seconds
// rounded half away from zero. `size` of 24 always suffices.
void FormatOffsetSeconds(char* out, size_t size, int64_t offset, int decimals);

// The tip's second line. `lastGoodLocal` is the last good synchronisation
// in local time (used while good); the offset is shown when known.
void FormatHealthTipLine(char* out, size_t size, ClockHealth health, const SYSTEMTIME& lastGoodLocal,
                         bool offsetKnown, int64_t offset);
// The About box's line on the last offset, "" when none is known.
void FormatOffsetLine(char* out, size_t size, bool offsetKnown, int64_t offset, const char* server);
// The About box's sentence on the drift (ppb, positive: the clock runs fast).
void FormatDriftSentence(char* out, size_t size, int32_t ppb);
// The About box's warning for a state, or "" where it needs none.
const char* HealthWarning(ClockHealth health);

// The balloon: its title (the warning) and its text, what went wrong (from
// the last attempt's last line) and what to do.
void FormatHealthBalloon(char* title, size_t titleSize, char* text, size_t textSize, ClockHealth health,
                         uint32_t lastResult, bool serviceMode);
