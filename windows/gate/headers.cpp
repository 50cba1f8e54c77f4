// The compile gate for Windows: our declarations checked against the real
// Windows headers (see gate.h), plus a program that runs on Windows.
#include "gate.h"

int main() { return GetVersion() == 0; }
