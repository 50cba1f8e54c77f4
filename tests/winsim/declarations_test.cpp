// The simulated machine declares every Win32 function the program uses with
// the signature of the real headers (checked at compile time by gate.h, which
// the Windows build compiles against the real headers too) and implements
// each of them (the table below only links when every one exists).
#include "../../windows/gate/gate.h"

#include <gtest/gtest.h>

namespace {

#define SIG(name, result, params) reinterpret_cast<const void*>(&name),
#define SIG_LATER(name, result, params)
const void* const kEveryFunction[] = {
#include "../../windows/gate/signatures.inc"
};
#undef SIG
#undef SIG_LATER

TEST(Declarations, EveryDeclaredFunctionIsImplemented) {
    for (const void* f : kEveryFunction) EXPECT_NE(f, nullptr);
}

}  // namespace
