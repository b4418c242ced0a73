#include <cstdio>

int main() {
    std::puts("kelvarin-cli: no subcommands yet");
    return 0;
}
