#include "clock_drift.h"

namespace {

void TakeAsReference(DriftRecord* record, const DriftAnswer& answer)
{
    record->reference = answer.time;
    record->referenceCounter = answer.counter;
    record->corrections = 0;
    // The reading comes after the setting, which brought the offset to nothing.
    record->referenceOffset = answer.clockSet ? 0 : answer.offset;
}

// Whether the system clock and the monotonic counter moved alike since the
// reference, but for the corrections made (this answer's included: its
// reading comes after its setting). Differences wrap rather than overflow.
bool OnlyOwnCorrections(const DriftRecord& record, const DriftAnswer& answer)
{
    const int64_t system = int64_t(answer.time - record.reference);
    const int64_t counted = int64_t(answer.counter - record.referenceCounter);
    const int64_t corrections = int64_t(uint64_t(record.corrections) + uint64_t(answer.clockSet ? answer.offset : 0));
    const int64_t apart = int64_t(uint64_t(system) - uint64_t(counted) - uint64_t(corrections));
    return apart <= OutsideChangeTicks && apart >= -OutsideChangeTicks;
}

} // namespace

void UpdateDrift(DriftRecord* record, const DriftAnswer& answer)
{
    // No reference, one that lies ahead (the clock went back), or a clock
    // that someone else changed meanwhile: start anew.
    if (record->reference == 0 || answer.time <= record->reference || !OnlyOwnCorrections(*record, answer)) {
        TakeAsReference(record, answer);
        return;
    }
    const uint64_t span = answer.time - record->reference;
    if (span < MinimumDriftSpan) {
        // Keep measuring from the reference; the correction made now moves
        // every later offset by -offset, so the reference moves with them.
        if (answer.clockSet) {
            record->referenceOffset = int64_t(uint64_t(record->referenceOffset) - uint64_t(answer.offset));
            record->corrections = int64_t(uint64_t(record->corrections) + uint64_t(answer.offset));
        }
        return;
    }
    // The offset grows while the PC's clock falls behind: a slow clock.
    // Parts per billion = change * 1e9 / span = change * 1000 / (span / 1e6),
    // where span / 1e6 (tenths of a second, at least 216000) keeps precision;
    // a change of a day or more is never a drift and would overflow. (Stored
    // values may be anything: the difference wraps rather than overflows.)
    const int64_t change = int64_t(uint64_t(answer.offset) - uint64_t(record->referenceOffset));
    const int64_t limit = 864000000000ll;
    if (change < limit && change > -limit) {
        const int64_t scaled = -change * 1000, tenths = int64_t(span / 1000000);
        const int64_t ppb = (scaled + (scaled < 0 ? -tenths / 2 : tenths / 2)) / tenths; // rounded
        if (ppb <= MaximumDriftPpb && ppb >= -MaximumDriftPpb) {
            record->ppb = int32_t(ppb);
            record->known = true;
        }
    }
    TakeAsReference(record, answer);
}
