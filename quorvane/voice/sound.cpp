#include "sound.h"

#include <windows.h>
#include <mmsystem.h>

bool PlaySoundImage(const WavImage& image)
{
    // Synchronous, and without SND_NODEFAULT: an image the system cannot
    // play gives its default sound.
    return PlaySoundA(reinterpret_cast<LPCSTR>(image.bytes), nullptr, SND_MEMORY) != FALSE;
}
