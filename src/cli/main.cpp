// kelvarin-cli: batch jobs and rocking-curve simulation without a display.
#include <unistd.h>

#include <iostream>

#include "cli/cli.hpp"

int main(int argc, char** argv) {
    return kelvarin::cli::runCli(argc, argv, std::cout, std::cerr, isatty(STDERR_FILENO) == 1);
}
