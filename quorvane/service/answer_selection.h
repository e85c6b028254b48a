// Which answers of one attempt the clock service believes, and whether it
// may step the clock: pure rules over the offsets and delays measured.
#pragma once

#include <cstdint>

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

// Answers come in resolver order, one per address. `clockBeforeBuild`: the
// PC's clock reads a time before this program was built, so it is certainly
// wrong and one source may set it.
Selection SelectAnswer(const UsableAnswer* answers, int count, bool clockBeforeBuild);
