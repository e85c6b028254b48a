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

struct DriftRecord {
    bool known;         // `ppb` holds a measured drift
    int32_t ppb;
    uint64_t reference; // time of the reference answer, 0: none yet
    // The offset the clock would show at `reference` had it not been set
    // since: the reference answer's offset, less every correction made after.
    int64_t referenceOffset;
};

// Takes one usable answer: its attempt's start, its offset, and whether the
// clock was set to it. A drift is measured against the reference once the
// two lie at least MinimumDriftSpan apart; then this answer becomes the
// reference. Closer answers keep the reference, and a setting between them
// is accounted for.
void UpdateDrift(DriftRecord* record, uint64_t time, int64_t offset, bool clockSet);
