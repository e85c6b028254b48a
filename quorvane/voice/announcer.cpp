#include "announcer.h"

#include <cstdio>
#include <cstring>

#include "announce_policy.h"
#include "clock.h"
#include "presence.h"
#include "settings.h"
#include "sound.h"
#include "voice_archive.h"

namespace {

const char ArchiveName[] = "voice.dat";
constexpr int PathCapacity = 261;
constexpr int NameSlot = 4; // three characters and the NUL

FILE* OpenArchive(int32_t* count)
{
    char path[PathCapacity];
    if (!GetProgramDirPath(ArchiveName, path, sizeof path))
        return nullptr;
    FILE* archive = fopen(path, "rb");
    if (archive && !ReadVoiceArchiveCount(archive, count)) {
        fclose(archive);
        archive = nullptr;
    }
    return archive;
}

// Gathers the clips into one sound; a join that fails drops what was
// gathered so far and the next clip starts afresh.
bool GatherClips(FILE* archive, int32_t count, const char* names, int number, WavImage* sound)
{
    for (int i = 0; i < number; ++i, names += strlen(names) + 1) {
        WavImage clip = FindClip(archive, count, names);
        if (!clip.bytes)
            return false; // a missing clip: nothing is heard
        if (!sound->bytes) {
            *sound = clip;
        } else if (!AppendClip(sound, &clip)) {
            FreeWavImage(sound);
            FreeWavImage(&clip);
        }
    }
    return true;
}

SessionState g_session; // present until a notification says otherwise

AnnounceRules CurrentRules()
{
    return {g_settings.VoiceInterval, g_settings.QuietHours, g_settings.QuietFrom, g_settings.QuietTo,
            g_settings.QuietWhenBusy};
}

} // namespace

void AnnounceIfWelcome(const SYSTEMTIME& now)
{
    const AnnounceRules rules = CurrentRules();
    AnnounceSituation situation = {MinuteTickTrigger, StateUnknown,
                                   g_session.locked || g_session.disconnected, false, false};
    // Windows is asked only when the clock and the settings alone would speak.
    if (!ShouldAnnounce(now, rules, situation))
        return;
    situation.notificationState = QueryUserNotificationState();
    situation.appStateIncludesStartMenu = AppStateIncludesStartMenu();
    situation.outputMuted = DefaultOutputMuted();
    // The minute judged is the minute spoken, however long the queries took.
    if (ShouldAnnounce(now, rules, situation))
        AnnounceTime(now, g_settings.VoiceVolume);
}

void SpeakTimeNow()
{
    SYSTEMTIME now;
    ReadLocalClock(&now);
    const AnnounceSituation situation = {SpeakNowTrigger, StateUnknown, false, DefaultOutputMuted(), false};
    if (ShouldAnnounce(now, CurrentRules(), situation))
        AnnounceTime(now, g_settings.VoiceVolume);
}

void NoteSessionNotification(unsigned code)
{
    NoteSessionChange(&g_session, code);
}

bool GetProgramDirPath(const char* name, char* buffer, int capacity)
{
    char path[PathCapacity + 1];
    DWORD length = GetModuleFileNameA(nullptr, path, PathCapacity);
    if (length == 0 || length >= PathCapacity)
        return false;
    path[length] = '\0';
    // The last real backslash: the second byte of a double-byte character
    // (表, ソ) can have the same value.
    char* lastBackslash = nullptr;
    for (char* p = path; *p; p = CharNextA(p)) {
        if (*p == '\\')
            lastBackslash = p;
    }
    if (lastBackslash)
        *lastBackslash = '\0';
    const size_t folderLength = strlen(path);
    const size_t nameLength = strlen(name);
    if (folderLength + 1 + nameLength >= size_t(capacity))
        return false; // the buffer is left alone
    memcpy(buffer, path, folderLength);
    buffer[folderLength] = '\\';
    memcpy(buffer + folderLength + 1, name, nameLength + 1);
    return true;
}

bool PlayClips(const char* names, int count, int percent)
{
    int32_t archiveCount;
    FILE* archive = OpenArchive(&archiveCount);
    if (!archive)
        return false;
    WavImage sound = {nullptr, 0};
    bool result = count <= 0 || GatherClips(archive, archiveCount, names, count, &sound);
    if (result && sound.bytes) {
        if (percent < 100 && !ScaleSamples(&sound, percent))
            result = false;
        // An image the player could read beyond is not played at all.
        if (result && IsPlayableWav(sound))
            PlaySoundImage(sound);
    }
    FreeWavImage(&sound);
    fclose(archive);
    return result;
}

void AnnounceTime(const SYSTEMTIME& now, int percent)
{
    // A 12-hour dial: midnight and noon are both "H00".
    const int hour = now.wHour < 12 ? now.wHour : now.wHour - 12;
    char names[2 * NameSlot];
    wsprintfA(names, "H%02d", hour);
    wsprintfA(names + NameSlot, "M%02d", now.wMinute % 60);
    PlayClips(names, 2, percent);
}

void PlayTestClip(int percent)
{
    PlayClips("H00\0M00", 2, percent);
}

bool VoiceArchiveAvailable()
{
    char path[PathCapacity];
    if (!GetProgramDirPath(ArchiveName, path, sizeof path))
        return false;
    HANDLE file = CreateFileA(path, 0, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}
