#include "winsim/image/image.h"

#include <cstdio>

int main(int argc, char** argv) {
    std::fprintf(stderr, "usage: winsim new|show|reg|reboot|diff ...\n");
    return 2;
}
