#include "clock_health.h"

#include <cstring>

#include "../res/resource.h"

namespace {

// Appends whole pieces only: a piece that does not fit is left out, so that
// no double-byte character is ever cut in two.
struct Text {
    char* out;
    size_t size;
    size_t length;

    Text(char* buffer, size_t capacity) : out(buffer), size(capacity), length(0)
    {
        if (size)
            out[0] = '\0';
    }
    Text& operator<<(const char* piece);
    Text& operator<<(uint32_t number);
};

Text& Text::operator<<(const char* piece)
{
    const size_t n = strlen(piece);
    if (length + n < size) {
        memcpy(out + length, piece, n + 1);
        length += n;
    }
    return *this;
}

Text& Text::operator<<(uint32_t number)
{
    char digits[12];
    char* p = digits + sizeof digits - 1;
    *p = '\0';
    do {
        *--p = char('0' + number % 10);
        number /= 10;
    } while (number);
    return *this << p;
}

const char TipPrefix[] = "時刻合わせ: ";
const char StaleWarning[] = "24時間以上、時刻を合わせられていません。";
const char NeverWarning[] = "時刻をまだ一度も合わせられていません。";
const char StoppedWarning[] = "時刻合わせサービスが止まっています。";
const char UncorrectedWarning[] = "時計を合わせられませんでした。";

// No good synchronisation for this long makes the clock stale: three missed
// attempts, and never less than a day.
uint64_t StaleLimit(int32_t syncInterval)
{
    const uint64_t interval = syncInterval > 0 ? uint64_t(syncInterval) : 1;
    const uint64_t missed = 3 * interval * FileTimeMinute;
    return missed > 24 * FileTimeHour ? missed : 24 * FileTimeHour;
}

// An attempt made after the clock became stale has failed too: the alarm is
// not raised from old records alone.
bool StaleConfirmed(ClockHealth health, const HealthFacts& facts)
{
    if (facts.failures == 0)
        return false; // the last attempt went well, or none was made
    if (health == HealthNever)
        return facts.failures > StaleFailures; // the one after the third failed too
    const uint64_t good = LastGoodSynchronisation(facts);
    return facts.lastAttempt > good && facts.lastAttempt - good > StaleLimit(facts.syncInterval);
}

// What went wrong in the last attempt, in one sentence; null when its last
// line tells nothing a user can act on.
const char* ProblemSentence(uint32_t lastResult)
{
    switch (lastResult) {
    case IDS_NO_ADDRESS_ANSWERED:
        return "どのサーバからも応答がありません。ファイアウォールなどで UDP ポート 123 "
               "が遮断されていないか確認してください。";
    case IDS_NO_VALID_REPLY:
        return "有効な応答がありませんでした。";
    case IDS_SERVER_NOT_FOUND:
        return "サーバが見つかりませんでした。";
    case IDS_NO_AGREEMENT:
        return "サーバの時刻が互いに一致しないため、時計を合わせませんでした。";
    case IDS_STEP_TOO_LARGE:
        return "時計との差が大きすぎるため、時計を合わせませんでした。";
    }
    return nullptr;
}

} // namespace

uint64_t LastGoodSynchronisation(const HealthFacts& facts)
{
    return facts.lastGood > facts.lastSync ? facts.lastGood : facts.lastSync;
}

bool LeavesClockUncorrected(uint32_t lastResult)
{
    return lastResult == IDS_NO_AGREEMENT || lastResult == IDS_STEP_TOO_LARGE || lastResult == IDS_SYNC_FAILED;
}

ClockHealth EvaluateClockHealth(const HealthFacts& facts)
{
    if (!facts.syncOn)
        return HealthOff;
    if (facts.serviceMode && facts.lastResult == IDS_DOMAIN_TIME)
        return HealthDomain;
    if (facts.serviceMode && !facts.serviceRunning)
        return HealthServiceStopped;
    // Answers came, yet the clock is as wrong as they said: neither good
    // nor "not yet", whatever came before.
    if (LeavesClockUncorrected(facts.lastResult))
        return HealthNotCorrected;
    const uint64_t good = LastGoodSynchronisation(facts);
    if (good == 0)
        return facts.failures >= StaleFailures ? HealthNever : HealthNotYet;
    // A good time ahead of the clock (the clock went back) counts as fresh.
    if (facts.now > good && facts.now - good > StaleLimit(facts.syncInterval))
        return HealthStale;
    return HealthGood;
}

bool HealthWarns(ClockHealth health, const HealthFacts& facts, const WarningClock& clock)
{
    switch (health) {
    case HealthNotCorrected:
        return true;
    case HealthStale:
    case HealthNever:
        return clock.settledMs >= StaleEvidenceMs || StaleConfirmed(health, facts);
    case HealthServiceStopped:
        return !facts.serviceNeverStarted || clock.uptimeMs >= ServiceStartGraceMs;
    default:
        return false;
    }
}

bool IsWarningState(ClockHealth health)
{
    return health == HealthServiceStopped || health == HealthNotCorrected || health == HealthStale
           || health == HealthNever;
}

bool NewHealthEpisode(ClockHealth health, uint64_t lastGood, const HealthEpisode& told)
{
    return IsWarningState(health) && (told.health != uint32_t(health) || told.lastGood != lastGood);
}

void FormatOffsetSeconds(char* out, size_t size, int64_t offset, int decimals)
{
    uint64_t scale = FileTimeSecond;
    for (int i = 0; i < decimals; ++i)
        scale /= 10; // 100-ns units per last shown digit
    const uint64_t magnitude = offset < 0 ? uint64_t(0) - uint64_t(offset) : uint64_t(offset);
    uint64_t units = (magnitude + scale / 2) / scale; // rounded half away from zero
    char digits[32];
    char* p = digits + sizeof digits - 1;
    *p = '\0';
    for (int i = 0; i < decimals; ++i) {
        *--p = char('0' + units % 10);
        units /= 10;
    }
    if (decimals > 0)
        *--p = '.';
    do {
        *--p = char('0' + units % 10);
        units /= 10;
    } while (units);
    Text(out, size) << (offset < 0 ? "-" : "+") << p;
}

void FormatHealthTipLine(char* out, size_t size, ClockHealth health, const SYSTEMTIME& lastGoodLocal,
                         bool offsetKnown, int64_t offset)
{
    // In the order of ClockHealth, up to the good state.
    static const char* const states[] = {"オフ",
                                         "ドメインの時刻に従っています",
                                         "サービスが止まっています",
                                         "時計を合わせられません",
                                         "24時間以上できていません",
                                         "できていません",
                                         "まだです"};
    Text text(out, size);
    text << TipPrefix;
    if (health < HealthGood) {
        text << states[health];
        return;
    }
    const char* minuteZero = lastGoodLocal.wMinute < 10 ? ":0" : ":";
    text << uint32_t(lastGoodLocal.wMonth) << "/" << uint32_t(lastGoodLocal.wDay) << " "
         << uint32_t(lastGoodLocal.wHour) << minuteZero << uint32_t(lastGoodLocal.wMinute);
    if (offsetKnown) {
        char seconds[24];
        FormatOffsetSeconds(seconds, sizeof seconds, offset, 2);
        text << " (誤差 " << seconds << "秒)";
    }
}

void FormatOffsetLine(char* out, size_t size, bool offsetKnown, int64_t offset, const char* server)
{
    Text text(out, size);
    if (!offsetKnown)
        return;
    char seconds[24];
    FormatOffsetSeconds(seconds, sizeof seconds, offset, 3);
    text << "前回の誤差: " << seconds << "秒";
    if (server && *server)
        text << " (サーバ " << server << ")";
}

void FormatDriftSentence(char* out, size_t size, int32_t ppb)
{
    // Tenths of a second per day: ppb * 86400 / 1e9 * 10.
    const uint64_t magnitude = ppb < 0 ? uint64_t(-int64_t(ppb)) : uint64_t(ppb);
    const uint64_t tenths = (magnitude * 864 + 500000) / 1000000;
    Text text(out, size);
    if (tenths == 0) {
        text << "このPCの時計の進み遅れは1日に0.1秒未満です。";
        return;
    }
    text << "このPCの時計は1日に約" << uint32_t(tenths / 10) << "." << uint32_t(tenths % 10) << "秒"
         << (ppb > 0 ? "進みます。" : "遅れます。");
}

const char* HealthWarning(ClockHealth health)
{
    switch (health) {
    case HealthServiceStopped:
        return StoppedWarning;
    case HealthNotCorrected:
        return UncorrectedWarning;
    case HealthStale:
        return StaleWarning;
    case HealthNever:
        return NeverWarning;
    default:
        return "";
    }
}

void FormatHealthBalloon(char* title, size_t titleSize, char* text, size_t textSize, ClockHealth health,
                         uint32_t lastResult, bool serviceMode)
{
    Text(title, titleSize) << HealthWarning(health);
    Text body(text, textSize);
    if (health == HealthServiceStopped) {
        body << "管理者がサービス「Quorvane 時刻合わせ」を開始してください。";
        return;
    }
    if (health == HealthNotCorrected) {
        body << (lastResult == IDS_SYNC_FAILED
                     ? "このPCでは時計を変更する権限がありません。管理者に連絡してください。"
                     : "サーバの時刻が一致しないか、時計が大きくずれています。一度手で時計を合わせるか、"
                       "信頼できるサーバを指定してください。");
        return;
    }
    if (const char* problem = ProblemSentence(lastResult)) {
        body << problem;
        if (body.length)
            body << "\n";
    }
    body << (serviceMode ? "右クリックして「今すぐ合わせる」を選ぶと、原因を表示します。"
                         : "「設定」の「高度」でサーバをテストしてください。");
}
