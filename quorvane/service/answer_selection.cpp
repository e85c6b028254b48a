#include "answer_selection.h"

#include <cstring>

namespace {

// A round trip down to -2 ms is measurement noise and counts as 0: a server
// that claims a negative one must neither narrow its interval nor win the
// choice of the smallest round trip.
int64_t Delay(const UsableAnswer& a)
{
    return a.delay < 0 ? 0 : a.delay;
}

int64_t Low(const UsableAnswer& a)
{
    return a.offset - (Delay(a) / 2 + AgreementMargin);
}

int64_t High(const UsableAnswer& a)
{
    return a.offset + (Delay(a) / 2 + AgreementMargin);
}

// The answers whose intervals hold `point`; closed intervals, so two that
// only touch agree.
int Members(const UsableAnswer* answers, int count, int64_t point, bool* member)
{
    int members = 0;
    for (int i = 0; i < count; ++i) {
        member[i] = Low(answers[i]) <= point && point <= High(answers[i]);
        members += member[i];
    }
    return members;
}

// The member with the smallest delay, the first in resolver order on a tie.
int Best(const UsableAnswer* answers, int count, const bool* member)
{
    int best = -1;
    for (int i = 0; i < count; ++i)
        if (member[i] && (best < 0 || Delay(answers[i]) < Delay(answers[best])))
            best = i;
    return best;
}

// One source may step a clock that is certainly wrong (before the build)
// forward to a time that is not: it repairs, it never invents.
bool RepairsClock(const ClockFacts& facts, int64_t offset)
{
    if (facts.clock >= facts.build || offset <= 0)
        return false;
    const uint64_t target = facts.clock + uint64_t(offset);
    return target >= facts.build && (facts.build >= Era1Start || target < Era1Start);
}

} // namespace

Selection SelectAnswer(const UsableAnswer* answers, int count, const ClockFacts& facts)
{
    Selection selection;
    memset(&selection, 0, sizeof selection);
    selection.chosen = -1;
    if (count > MaxServerAddresses)
        count = MaxServerAddresses;
    if (count <= 0) {
        selection.outcome = SelectionNone;
        return selection;
    }
    // The largest group with a common point has one at some interval's lower
    // end. Between groups of that size the one whose best answer has the
    // smallest delay wins.
    int bestCount = 0, bestChosen = -1;
    bool member[MaxServerAddresses];
    for (int i = 0; i < count; ++i) {
        const int members = Members(answers, count, Low(answers[i]), member);
        const int chosen = Best(answers, count, member);
        if (members > bestCount || (members == bestCount && Delay(answers[chosen]) < Delay(answers[bestChosen]))) {
            bestCount = members;
            bestChosen = chosen;
            memcpy(selection.truechimer, member, sizeof member);
        }
    }
    if (2 * bestCount <= count) {
        memset(selection.truechimer, 0, sizeof selection.truechimer);
        selection.outcome = SelectionNoAgreement;
        return selection;
    }
    selection.truechimers = bestCount;
    selection.chosen = bestChosen;
    const int64_t step = answers[bestChosen].offset;
    const bool large = step > LargeStep || step < -LargeStep;
    selection.outcome = large && bestCount < 2 && !RepairsClock(facts, step) ? SelectionStepTooLarge : SelectionChosen;
    return selection;
}

bool CarryForward(uint64_t arrivalClock, uint64_t arrivalCounter, int64_t offset, uint64_t nowClock,
                  uint64_t nowCounter, uint64_t* target)
{
    const int64_t elapsedClock = int64_t(nowClock - arrivalClock);
    const int64_t elapsedCounter = int64_t(nowCounter - arrivalCounter);
    const int64_t moved = elapsedClock - elapsedCounter;
    if (moved > ClockMoveLimit || moved < -ClockMoveLimit)
        return false;
    *target = arrivalClock + uint64_t(offset) + uint64_t(elapsedCounter);
    return true;
}
