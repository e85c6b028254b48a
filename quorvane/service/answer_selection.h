// Which answers of one attempt the clock service believes, and whether it
// may step the clock: pure rules over the offsets and delays measured.
#pragma once

#include <cstdint>

#include "ntp_time.h"

// The addresses of one server name asked in one attempt, at most.
constexpr int MaxServerAddresses = 8;
// Every answer stands for theta +- (delta / 2 + this): 25 ms in 100-ns units.
constexpr int64_t AgreementMargin = 250000;
// A step of more than this (1000 s, in 100-ns units) needs two agreeing
// addresses, or a clock that is certainly wrong.
constexpr int64_t LargeStep = 1000ll * 10000000;

struct UsableAnswer {
    int64_t offset; // theta, 100 ns
    int64_t delay;  // delta, 100 ns
};

enum SelectionOutcome {
    SelectionNone,        // no usable answer
    SelectionChosen,      // `chosen` gives the time
    SelectionNoAgreement, // no group holds more than half of the answers
    SelectionStepTooLarge // the chosen offset exceeds LargeStep with one truechimer only
};

struct Selection {
    SelectionOutcome outcome;
    int truechimers;                     // members of the largest agreeing group (0 without agreement)
    bool truechimer[MaxServerAddresses]; // per answer
    int chosen;                          // the truechimer with the smallest delay, or -1
};

// The PC's clock now and the day this program was built (FILETIME counts).
// A clock that reads earlier than the build is certainly wrong: one source
// may step it forward, to a time not before the build, and not into era 1
// while the build is before it (an era-0 time near 1900 read the other way).
struct ClockFacts {
    uint64_t clock;
    uint64_t build;
};

// Answers come in resolver order, one per address.
Selection SelectAnswer(const UsableAnswer* answers, int count, const ClockFacts& facts);

// Most the system clock may move against the monotonic counter during an
// attempt: 100 ms in 100-ns units. More means someone else set the clock.
constexpr int64_t ClockMoveLimit = 1000000;

// The time to set: the chosen answer's server time (its arrival plus its
// offset) carried forward by the monotonic time elapsed since it arrived.
// False when the system clock moved against the counter by more than
// ClockMoveLimit meanwhile: the offset was measured against another clock.
// All readings in 100-ns units; the counters from any fixed origin.
bool CarryForward(uint64_t arrivalClock, uint64_t arrivalCounter, int64_t offset, uint64_t nowClock,
                  uint64_t nowCounter, uint64_t* target);
