// Playing a sound: the program links the real player (PlaySoundA from
// memory, synchronous); tests link their own recorder.
#pragma once

#include "voice_archive.h"

bool PlaySoundImage(const WavImage& image);
