// How fast this PC's clock runs against the servers' time, learnt from the
// offsets of successive usable answers. Units: time points are UTC FILETIME
// counts (100 ns since 1601); an offset is the server's time minus the PC's,
// in 100 ns (positive: the PC is behind); a drift is in parts per billion,
// positive when the PC's clock runs fast.
#pragma once

#include <cstdint>

// Answers closer together than this tell too little about the rate.
constexpr uint64_t MinimumDriftSpan = 6ull * 3600 * 10000000;
// A quartz clock keeps within a few tens of ppm; a larger figure means that
// something else set the clock between the two answers.
constexpr int32_t MaximumDriftPpb = 500000;
// Between two answers the system clock may move apart from the monotonic
// counter by the corrections made in between and by no more than this (the
// readings' own jitter); beyond, someone else changed the clock.
constexpr int64_t OutsideChangeTicks = 50 * 10000;

struct DriftRecord {
    bool known;         // `ppb` holds a measured drift
    int32_t ppb;
    uint64_t reference; // the clock read after the reference answer's attempt, 0: none yet
    // The offset the clock would show at `reference` had it not been set
    // since: the reference answer's offset, less every correction made after.
    int64_t referenceOffset;
    uint64_t referenceCounter; // the monotonic counter read with `reference`
    int64_t corrections;       // the corrections made since the reference
};

// One good answer: the clock and the monotonic counter read together after
// its attempt (after the setting, if any), its offset, and whether the clock
// was set to it.
struct DriftAnswer {
    uint64_t time;
    uint64_t counter;
    int64_t offset;
    bool clockSet;
};

// Takes one good answer. A drift is measured against the reference once the
// two lie at least MinimumDriftSpan apart; then this answer becomes the
// reference. Closer answers keep the reference, and a setting between them
// is accounted for. A pair between which the clock moved apart from the
// counter by more than the corrections made (someone else set it, or the PC
// restarted and the counter with it) tells nothing: this answer becomes the
// reference instead.
void UpdateDrift(DriftRecord* record, const DriftAnswer& answer);
