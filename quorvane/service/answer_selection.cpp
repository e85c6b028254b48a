#include "answer_selection.h"

#include <cstring>

namespace {

int64_t Low(const UsableAnswer& a)
{
    return a.offset - (a.delay / 2 + AgreementMargin);
}

int64_t High(const UsableAnswer& a)
{
    return a.offset + (a.delay / 2 + AgreementMargin);
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
        if (member[i] && (best < 0 || answers[i].delay < answers[best].delay))
            best = i;
    return best;
}

} // namespace

Selection SelectAnswer(const UsableAnswer* answers, int count, bool clockBeforeBuild)
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
        if (members > bestCount || (members == bestCount && answers[chosen].delay < answers[bestChosen].delay)) {
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
    selection.outcome = large && bestCount < 2 && !clockBeforeBuild ? SelectionStepTooLarge : SelectionChosen;
    return selection;
}
