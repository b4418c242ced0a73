// kelvarin-cli: batch jobs and rocking-curve simulation without a display.
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "cli/cli.hpp"

int main(int argc, char** argv) {
    const int code =
        kelvarin::cli::runCli(argc, argv, std::cout, std::cerr, isatty(STDERR_FILENO) == 1);
    // What was written to the standard output must have arrived (a full disk, /dev/full).
    if (code == 0 && (std::fflush(stdout) != 0 || std::ferror(stdout) != 0)) {
        std::fputs("kelvarin-cli: cannot write to the standard output\n", stderr);
        return 1;
    }
    return code;
}
