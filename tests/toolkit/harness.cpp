#include "setup/harness.cpp"
