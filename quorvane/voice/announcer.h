// Spoken time announcements from the clips of "voice.dat".
#pragma once

#include <windows.h>

// Speaks the local time `now`: the hour clip ("H00" to "H11") and the
// minute clip ("M%02d") joined, at `percent` of the recorded volume.
void AnnounceTime(const SYSTEMTIME& now, int percent);
// The minute tick's announcement of `now`: played only when welcome (the
// interval, a late tick, quiet hours, a busy or absent user, a locked
// session, a muted output), at the chosen volume.
void AnnounceIfWelcome(const SYSTEMTIME& now);
// "今の時刻を話す": the current time at once at the chosen volume, whatever
// the quiet hours and a busy screen say, but not into a muted output.
void SpeakTimeNow();
// One WM_WTSSESSION_CHANGE code of this session (locked, unlocked,
// disconnected, connected).
void NoteSessionNotification(unsigned code);
// Plays "H00" and "M00", as the settings dialog's test button does.
void PlayTestClip(int percent);
// Whether "voice.dat" exists beside the program.
bool VoiceArchiveAvailable();
// Joins the clips of `count` NUL-terminated names stored one after the
// other in `names`, scales them and plays them. False when the archive, a
// clip or the scaling fails.
bool PlayClips(const char* names, int count, int percent);
// `name` in the program's folder, if the path fits in `capacity` bytes.
bool GetProgramDirPath(const char* name, char* buffer, int capacity);
