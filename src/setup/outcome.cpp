// The outcome of the run: what the flows noted and the restart they
// leave, handed to the toolkit's log as its result line.
#include "setup/setup.h"

#include "toolkit/toolkit.h"

static Outcome Noted = OUTCOME_NONE;
static BOOL RestartNeeded;
static BOOL RestartRequested;
void BeginOutcome(void)
{
    Noted = OUTCOME_NONE;
    RestartNeeded = FALSE;
    RestartRequested = FALSE;
}

void NoteOutcome(Outcome outcome)
{
    Noted = outcome;
}

void NoteRestartNeeded(void)
{
    RestartNeeded = TRUE;
}

void NoteRestartRequested(void)
{
    RestartRequested = TRUE;
}

void ReportOutcome(Outcome fallback)
{
    static const char *const kNames[] = {"nothing",   "installed", "upgraded", "removed",
                                         "nothing",   "cancelled", "refused",  "failed"};
    Outcome outcome = Noted != OUTCOME_NONE ? Noted : fallback;
    if ((unsigned)outcome >= sizeof kNames / sizeof kNames[0])
        outcome = OUTCOME_FAILED;
    KitSetResult(kNames[outcome], RestartRequested ? "requested" : RestartNeeded ? "needed" : "no");
}
