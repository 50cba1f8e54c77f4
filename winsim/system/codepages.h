// Code pages 1252 (ANSI) and 437 (OEM) of the simulated US-English Windows.
#pragma once

#include <windows.h>

namespace winsim {

// The Unicode character of a byte of code page 1252 or 437.
char16_t cp1252ToUnicode(unsigned char c);
char16_t cp437ToUnicode(unsigned char c);
// The code page 1252 byte for a Unicode character: exact, or (when
// `bestFit`) Windows' best-fit substitute; -1 when there is none.
int unicodeToCp1252(char16_t u, bool bestFit);

// Case mapping and classification of code page 1252 characters.
unsigned char upper1252(unsigned char c);
unsigned char lower1252(unsigned char c);

}  // namespace winsim
