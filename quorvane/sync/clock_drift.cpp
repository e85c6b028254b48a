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
            record->referenceOffset -= offset;
        return;
    }
    // The offset grows while the PC's clock falls behind: a slow clock.
    const double change = double(offset) - double(record->referenceOffset);
    const double ppb = -change * 1e9 / double(span);
    if (ppb <= double(MaximumDriftPpb) && ppb >= -double(MaximumDriftPpb)) {
        record->ppb = int32_t(ppb < 0 ? ppb - 0.5 : ppb + 0.5);
        record->known = true;
    }
    TakeAsReference(record, time, offset, clockSet);
}
