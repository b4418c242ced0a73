#include "fit/optimizer.hpp"

#include <cstdio>

namespace kelvarin::fit {

const char* terminationName(Termination t) {
    switch (t) {
        case Termination::Finished:
            return "finished";
        case Termination::Stopped:
            return "stopped";
        case Termination::Failed:
            break;
    }
    return "failed";
}

std::string Summary::brief() const {
    char text[160];
    std::snprintf(text, sizeof text, "%s after %d evaluations in %.2f s, error %.4g %%",
                  terminationName(termination), evaluations, seconds,
                  static_cast<double>(bestError));
    std::string out = text;
    if (!message.empty()) out += " (" + message + ")";
    return out;
}

}  // namespace kelvarin::fit
