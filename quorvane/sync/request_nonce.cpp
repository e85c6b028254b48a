#include "request_nonce.h"

#include <windows.h>

#include "clock.h"

namespace {

typedef BOOLEAN(WINAPI* GenRandomFunction)(void*, ULONG);
typedef BOOL(WINAPI* AcquireContextFunction)(ULONG_PTR*, LPCSTR, LPCSTR, DWORD, DWORD);
typedef BOOL(WINAPI* CryptGenRandomFunction)(ULONG_PTR, DWORD, BYTE*);

const DWORD ProvRsaFull = 1;                // PROV_RSA_FULL
const DWORD VerifyContext = 0xF0000000;     // CRYPT_VERIFYCONTEXT
const DWORD SilentContext = 0x00000040;     // CRYPT_SILENT

template <typename Function> Function Lookup(HMODULE module, const char* name)
{
    return module ? reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name))) : nullptr;
}

// The system's generators, looked up at run time: RtlGenRandom (exported as
// SystemFunction036, Windows XP and later), else CryptGenRandom (Windows 95
// OSR2 and NT 4 with the crypto provider). Each program asks from one thread.
struct Generators {
    bool looked;
    GenRandomFunction genRandom;
    CryptGenRandomFunction generate;
    ULONG_PTR provider;
};
Generators g_generators;

bool SystemRandom(uint8_t* bytes, DWORD size)
{
    Generators& g = g_generators;
    if (!g.looked) {
        g.looked = true;
        HMODULE advapi = LoadLibraryA("advapi32.dll");
        g.genRandom = Lookup<GenRandomFunction>(advapi, "SystemFunction036");
        AcquireContextFunction acquire = Lookup<AcquireContextFunction>(advapi, "CryptAcquireContextA");
        g.generate = Lookup<CryptGenRandomFunction>(advapi, "CryptGenRandom");
        if (!g.genRandom && acquire && !acquire(&g.provider, nullptr, nullptr, ProvRsaFull, VerifyContext | SilentContext))
            g.provider = 0;
    }
    if (g.genRandom && g.genRandom(bytes, size))
        return true;
    return g.provider && g.generate && g.generate(g.provider, size, bytes);
}

// Without a system generator: the high-resolution counter, the clock and a
// count of requests, mixed. Different for every request, but far weaker than
// the system's generator: someone who can guess when the request left could
// guess much of it.
void MixedBits(uint8_t* bytes)
{
    static uint64_t count; // zero-initialised: no guard
    LARGE_INTEGER counter = {};
    QueryPerformanceCounter(&counter);
    uint64_t state = uint64_t(counter.QuadPart) ^ (ReadSystemClock() << 17) ^ (++count * 0x9E3779B97F4A7C15ull)
                     ^ (uint64_t(GetCurrentProcessId()) << 40) ^ GetTickCount();
    // splitmix64's finaliser spreads every input bit over the whole value.
    state ^= state >> 30;
    state *= 0xBF58476D1CE4E5B9ull;
    state ^= state >> 27;
    state *= 0x94D049BB133111EBull;
    state ^= state >> 31;
    for (int i = 0; i < 8; ++i)
        bytes[i] = uint8_t(state >> (8 * i));
}

} // namespace

void MakeRequestNonce(uint8_t nonce[8])
{
    if (!SystemRandom(nonce, 8))
        MixedBits(nonce);
    // An originate timestamp of 0 is what a careless server sends: it must
    // never count as the echo of a request.
    nonce[7] |= uint8_t((nonce[0] | nonce[1] | nonce[2] | nonce[3] | nonce[4] | nonce[5] | nonce[6] | nonce[7]) == 0);
}
