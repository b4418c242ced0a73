#include "fit/fit_report.hpp"

#include <cmath>
#include <cstdio>
#include <sstream>

namespace kelvarin::fit {

namespace {

std::string num(double v, int digits = 6) {
    if (!std::isfinite(v)) return std::isnan(v) ? "n/a" : (v > 0 ? "inf" : "-inf");
    char text[64];
    std::snprintf(text, sizeof text, "%.*g", digits, v);
    return text;
}

/// A JSON number; null for a value that is not finite.
std::string jnum(double v) {
    if (!std::isfinite(v)) return "null";
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

std::string jstr(const std::string& s) {
    std::string out = "\"";
    for (const char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(c));
            out += esc;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

const ParameterUncertainty* uncertaintyOf(const FitReport& r, int index) {
    for (const ParameterUncertainty& p : r.uncertainty.parameters)
        if (p.index == index) return &p;
    return nullptr;
}

std::string flags(const ParameterUncertainty* u) {
    if (u == nullptr) return {};
    std::string out;
    if (u->atMinimum) out += " [at its minimum]";
    if (u->atMaximum) out += " [at its maximum]";
    if (u->undetermined) out += " [not determined by the data]";
    return out;
}

}  // namespace

std::string reportText(const FitReport& r) {
    std::ostringstream out;
    out << "Fit report: " << r.project << "\n\n";
    out << "Global search   " << r.search << "\n";
    out << "  ended         " << terminationName(r.global.termination) << " (" << r.searchStop
        << "): " << r.global.message << "\n";
    out << "  evaluations   " << r.global.evaluations << " in " << num(r.global.seconds, 3)
        << " s\n";
    out << "  error         " << num(static_cast<double>(r.global.bestError), 6) << " %\n";
    for (const std::string& w : r.global.warnings)
        out << "  warning       " << w << "\n";
    if (r.polish) {
        const PolishResult& p = *r.polish;
        out << "Polish          Levenberg-Marquardt, bounded, numeric derivatives\n";
        if (p.summary.usable()) {
            out << "  ended         " << p.summary.message << "\n";
            out << "  iterations    " << p.iterations << ", cost " << num(p.startCost) << " -> "
                << num(p.finalCost) << ", " << num(p.summary.seconds, 3) << " s\n";
        } else {
            out << "  FAILED        " << p.summary.message << "\n";
            out << "                the global search's result is kept\n";
        }
    }
    out << "\nParameters (± one standard error)\n";
    for (int i = 0; i < r.table.size(); ++i) {
        const Parameter& p = r.table[i];
        const ParameterUncertainty* u = uncertaintyOf(r, i);
        out << "  " << p.name << " = "
            << num(static_cast<double>(r.values[static_cast<std::size_t>(i)]), 8);
        if (p.free && u != nullptr) out << " ± " << num(u->standardError, 3);
        if (!p.unit.empty()) out << " " << p.unit;
        if (!p.free) out << " (fixed)";
        out << flags(u) << "\n";
    }
    if (!r.uncertainty.valid)
        out << "  no standard errors: " << r.uncertainty.message << "\n";
    else if (!r.uncertainty.message.empty())
        out << "  warning: " << r.uncertainty.message << "\n";
    const auto strong = r.uncertainty.strongCorrelations();
    out << "\nCorrelations above 0.8";
    if (strong.empty()) out << ": none";
    out << "\n";
    for (const auto& [i, j] : strong) {
        const auto& pi = r.uncertainty.parameters[static_cast<std::size_t>(i)];
        const auto& pj = r.uncertainty.parameters[static_cast<std::size_t>(j)];
        out << "  " << r.table[pi.index].name << " / " << r.table[pj.index].name << ": "
            << num(r.uncertainty
                       .correlation[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)],
                   3)
            << "\n";
    }
    const FitStatistics& s = r.statistics;
    out << "\nStatistics\n";
    out << "  logarithmic error   " << num(s.logError) << " %\n";
    out << "  chi2/nu (Poisson)   " << num(s.reducedChi2) << "  (chi2 " << num(s.chi2) << ", "
        << s.points << " points, " << s.freeParameters << " free parameters)\n";
    if (s.nonPositive > 0)
        out << "  points at or below 0 counts: " << s.nonPositive << " (weighed as one count)\n";
    out << "  weighted R-factor   " << num(s.weightedR) << " %\n";
    out << "\nTime            " << num(r.seconds, 3) << " s on " << r.threads << " thread"
        << (r.threads == 1 ? "" : "s") << "\n";
    return out.str();
}

std::string reportJson(const FitReport& r) {
    std::ostringstream out;
    out << "{\n  \"project\": " << jstr(r.project) << ",\n";
    out << "  \"search\": {\"method\": " << jstr(r.search)
        << ", \"termination\": " << jstr(terminationName(r.global.termination))
        << ", \"rule\": " << jstr(r.searchStop) << ", \"message\": " << jstr(r.global.message)
        << ", \"evaluations\": " << r.global.evaluations
        << ", \"seconds\": " << jnum(r.global.seconds)
        << ", \"error_percent\": " << jnum(static_cast<double>(r.global.bestError)) << "},\n";
    out << "  \"polish\": ";
    if (!r.polish) {
        out << "null,\n";
    } else {
        const PolishResult& p = *r.polish;
        out << "{\"succeeded\": " << (p.summary.usable() ? "true" : "false")
            << ", \"message\": " << jstr(p.summary.message) << ", \"iterations\": " << p.iterations
            << ", \"start_cost\": " << jnum(p.startCost)
            << ", \"final_cost\": " << jnum(p.finalCost)
            << ", \"seconds\": " << jnum(p.summary.seconds) << "},\n";
    }
    out << "  \"parameters\": [\n";
    for (int i = 0; i < r.table.size(); ++i) {
        const Parameter& p = r.table[i];
        const ParameterUncertainty* u = uncertaintyOf(r, i);
        out << "    {\"name\": " << jstr(p.name) << ", \"unit\": " << jstr(p.unit)
            << ", \"value\": " << jnum(static_cast<double>(r.values[static_cast<std::size_t>(i)]))
            << ", \"min\": " << jnum(static_cast<double>(p.min))
            << ", \"max\": " << jnum(static_cast<double>(p.max))
            << ", \"free\": " << (p.free ? "true" : "false")
            << ", \"standard_error\": " << (u != nullptr ? jnum(u->standardError) : "null")
            << ", \"at_minimum\": " << (u != nullptr && u->atMinimum ? "true" : "false")
            << ", \"at_maximum\": " << (u != nullptr && u->atMaximum ? "true" : "false")
            << ", \"undetermined\": " << (u != nullptr && u->undetermined ? "true" : "false") << "}"
            << (i + 1 < r.table.size() ? "," : "") << "\n";
    }
    out << "  ],\n  \"uncertainty\": {\"valid\": " << (r.uncertainty.valid ? "true" : "false")
        << ", \"message\": " << jstr(r.uncertainty.message) << ", \"free_parameters\": [";
    for (std::size_t i = 0; i < r.uncertainty.parameters.size(); ++i)
        out << (i ? ", " : "") << jstr(r.table[r.uncertainty.parameters[i].index].name);
    out << "], \"correlation\": [";
    for (std::size_t i = 0; i < r.uncertainty.correlation.size(); ++i) {
        out << (i ? ", " : "") << "[";
        for (std::size_t j = 0; j < r.uncertainty.correlation[i].size(); ++j)
            out << (j ? ", " : "") << jnum(r.uncertainty.correlation[i][j]);
        out << "]";
    }
    out << "]},\n";
    const FitStatistics& s = r.statistics;
    out << "  \"statistics\": {\"log_error_percent\": " << jnum(s.logError)
        << ", \"chi2\": " << jnum(s.chi2) << ", \"reduced_chi2\": " << jnum(s.reducedChi2)
        << ", \"points\": " << s.points << ", \"points_at_or_below_zero\": " << s.nonPositive
        << ", \"free_parameters\": " << s.freeParameters
        << ", \"weighted_r_percent\": " << jnum(s.weightedR) << "},\n";
    out << "  \"threads\": " << r.threads << ",\n  \"seconds\": " << jnum(r.seconds) << "\n}\n";
    return out.str();
}

}  // namespace kelvarin::fit
