// What a removal leaves behind: files that go only at the next start of
// Windows, and what is kept on purpose or could not be removed. Each note
// becomes one line "left <what>: <reason>" in the run's log and on the
// console when the removal ends, so that a script can read it.
#pragma once

#include <windows.h>

// Notes kept per run; further notes are counted and summed up in one line.
constexpr int kMaxLeftNotes = 64;
// Bytes of one note ("<what>: <reason>" and its terminator); a longer note
// is cut at this size.
constexpr int kLeftNoteBytes = 512;

// Remembers one note. `what` names the object (a path, "printer NAME",
// "port NAME", a registry key), `reason` says why it is still there.
void noteLeft(LPCSTR what, LPCSTR reason);
// Number of notes taken so far (those beyond kMaxLeftNotes included).
int leftNoteCount(void);
// Note i (0-based) as "<what>: <reason>", or null past the kept ones.
LPCSTR leftNote(int i);
// Writes every note as a "left" line to the log and the console, then
// forgets them.
void reportLeftNotes(void);
// Forgets every note without writing it.
void clearLeftNotes(void);
