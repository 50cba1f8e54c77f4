// build/bin/setup: the setup program on a simulated machine.
#include "host/host.h"

#include <csignal>

int main(int argc, char** argv) {
    // A reader that went away (setup ... | head) must not end the run: the
    // writes fail, and the run goes on to save the image.
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> args(argv + 1, argv + argc);
    return host::run(args);
}
