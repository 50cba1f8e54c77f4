// build/bin/setup: the setup program on a simulated machine.
#include "host/host.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return host::run(args);
}
