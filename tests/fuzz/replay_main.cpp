// Feeds every file of a seed/regression corpus through one reader's fuzz entry:
//   kelvarin_fuzz_replay <target> <folder>
// A fault aborts the process; otherwise it prints how many inputs were read and refused.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/fuzz_entry.hpp"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: kelvarin_fuzz_replay <target> <corpus folder>\n";
        return 2;
    }
    const std::string target = argv[1];
    const auto& names = kelvarin::fuzz::targetNames();
    if (std::find(names.begin(), names.end(), target) == names.end()) {
        std::cerr << "unknown target '" << target << "'\n";
        return 2;
    }
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(argv[2], ec))
        if (entry.is_regular_file()) files.push_back(entry.path());
    if (ec || files.empty()) {
        std::cerr << "no corpus in '" << argv[2] << "'\n";
        return 2;
    }
    std::sort(files.begin(), files.end());
    int read = 0;
    int refused = 0;
    for (const auto& file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        const bool ok = kelvarin::fuzz::runOne(
            target, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        (ok ? read : refused) += 1;
    }
    std::cout << target << ": " << files.size() << " inputs, " << read << " read, " << refused
              << " refused with a message\n";
    return 0;
}
