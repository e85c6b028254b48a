#include "clock_drift.h"

namespace {

void TakeAsReference(DriftRecord* record, uint64_t time, int64_t offset, bool clockSet)
{
    record->reference = time;
    // A setting brings the offset to nothing at this point.
    record->referenceOffset = clockSet ? 0 : offset;
}

} // namespace

void UpdateDrift(DriftRecord* record, uint64_t time, int64_t offset, bool clockSet)
{
    // No reference, or one that lies ahead (the clock went back): start anew.
    if (record->reference == 0 || time <= record->reference) {
        TakeAsReference(record, time, offset, clockSet);
        return;
    }
    const uint64_t span = time - record->reference;
    if (span < MinimumDriftSpan) {
        // Keep measuring from the reference; the correction made now moves
        // every later offset by -offset, so the reference moves with them.
        if (clockSet)
            record->referenceOffset = int64_t(uint64_t(record->referenceOffset) - uint64_t(offset));
        return;
    }
    // The offset grows while the PC's clock falls behind: a slow clock.
    // Parts per billion = change * 1e9 / span = change * 1000 / (span / 1e6),
    // where span / 1e6 (tenths of a second, at least 216000) keeps precision;
    // a change of a day or more is never a drift and would overflow. (Stored
    // values may be anything: the difference wraps rather than overflows.)
    const int64_t change = int64_t(uint64_t(offset) - uint64_t(record->referenceOffset));
    const int64_t limit = 864000000000ll;
    if (change < limit && change > -limit) {
        const int64_t scaled = -change * 1000, tenths = int64_t(span / 1000000);
        const int64_t ppb = (scaled + (scaled < 0 ? -tenths / 2 : tenths / 2)) / tenths; // rounded
        if (ppb <= MaximumDriftPpb && ppb >= -MaximumDriftPpb) {
            record->ppb = int32_t(ppb);
            record->known = true;
        }
    }
    TakeAsReference(record, time, offset, clockSet);
}
