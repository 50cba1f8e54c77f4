// The notes of what a removal leaves behind, and their report.
#include "sysutil/leftover.h"

#include "toolkit/toolkit.h"

#include <cstdio>

namespace {

CHAR LeftNotes[kMaxLeftNotes][kLeftNoteBytes];
int LeftNoteTotal = 0;

}  // namespace

void noteLeft(LPCSTR what, LPCSTR reason) {
    if (LeftNoteTotal < kMaxLeftNotes)
        std::snprintf(LeftNotes[LeftNoteTotal], kLeftNoteBytes, "%s: %s", what ? what : "", reason ? reason : "");
    ++LeftNoteTotal;
}

int leftNoteCount(void) { return LeftNoteTotal; }

LPCSTR leftNote(int i) {
    if (i < 0 || i >= LeftNoteTotal || i >= kMaxLeftNotes) return nullptr;
    return LeftNotes[i];
}

void reportLeftNotes(void) {
    for (int i = 0; i < LeftNoteTotal && i < kMaxLeftNotes; ++i) KitLogEvent("left", LeftNotes[i]);
    if (LeftNoteTotal > kMaxLeftNotes) {
        CHAR more[kLeftNoteBytes];
        std::snprintf(more, sizeof more, "%d more items: not listed", LeftNoteTotal - kMaxLeftNotes);
        KitLogEvent("left", more);
    }
    clearLeftNotes();
}

void clearLeftNotes(void) { LeftNoteTotal = 0; }
