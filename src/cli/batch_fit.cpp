#include "cli/batch_fit.hpp"

#include <glob.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <thread>

#include "fit/worker_pool.hpp"
#include "results/output_files.hpp"

namespace kelvarin::cli {

namespace {

struct BatchRow {
    std::string file;
    bool failed = true;
    std::string message;
    fit::FitReport report;
};

std::string csvField(const std::string& s) {
    if (s.find_first_of(",\"\n") == std::string::npos) return s;
    std::string out = "\"";
    for (const char c : s)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

std::string csvNumber(double v) {
    if (!std::isfinite(v)) return "";
    char text[48];
    std::snprintf(text, sizeof text, "%.9g", v);
    return text;
}

std::string summaryCsv(const fit::ParameterTable& table, const std::vector<BatchRow>& rows) {
    std::ostringstream out;
    out << "file";
    for (const fit::Parameter& p : table.all())
        out << "," << csvField(p.name) << "," << csvField(p.name + "_error");
    out << ",reduced_chi2,log_error_percent,weighted_r_percent,ended\n";
    for (const BatchRow& r : rows) {
        out << csvField(r.file);
        for (int i = 0; i < table.size(); ++i) {
            if (r.failed) {
                out << ",,";
                continue;
            }
            double error = std::nan("");
            for (const fit::ParameterUncertainty& u : r.report.uncertainty.parameters)
                if (u.index == i) error = u.standardError;
            out << ","
                << csvNumber(static_cast<double>(r.report.values[static_cast<std::size_t>(i)]))
                << "," << csvNumber(error);
        }
        if (r.failed) {
            out << ",,,," << csvField("failed: " + r.message) << "\n";
            continue;
        }
        const fit::FitStatistics& s = r.report.statistics;
        std::string ended = r.report.searchStop;
        if (r.report.polish)
            ended += r.report.polish->summary.usable() ? " + polish" : " + polish failed";
        out << "," << csvNumber(s.reducedChi2) << "," << csvNumber(s.logError) << ","
            << csvNumber(s.weightedR) << "," << csvField(ended) << "\n";
    }
    return out.str();
}

}  // namespace

std::vector<std::string> batchFiles(const std::vector<std::string>& patterns) {
    std::vector<std::string> files;
    for (const std::string& pattern : patterns) {
        glob_t g{};
        const int rc = glob(pattern.c_str(), 0, nullptr, &g);
        std::size_t found = 0;
        if (rc == 0)
            for (std::size_t i = 0; i < g.gl_pathc; ++i) {
                std::error_code ec;
                if (!std::filesystem::is_regular_file(g.gl_pathv[i], ec)) continue;
                files.emplace_back(g.gl_pathv[i]);
                ++found;
            }
        globfree(&g);
        if (found == 0) throw BatchError("the batch pattern '" + pattern + "' matches no file");
    }
    std::sort(files.begin(), files.end());
    files.erase(std::unique(files.begin(), files.end()), files.end());
    return files;
}

int doBatchFit(const FitArgs& args, const std::vector<std::string>& patterns, std::ostream& out,
               std::ostream& err) {
    const fit::Project project = fit::loadProject(args.project);
    if (project.datasets.empty())
        throw fit::ProjectError(args.project + ": a batch needs a [[dataset]] to put each file in");
    const std::vector<std::string> files = batchFiles(patterns);
    // Several fits at once, one thread each: whole fits share the cores better than the
    // candidates of one fit do.
    const int workers =
        std::min<int>(fit::WorkerPool::resolve(args.threads), static_cast<int>(files.size()));
    std::vector<BatchRow> rows(files.size());
    std::atomic<std::size_t> next{0};
    std::mutex print;
    const auto work = [&] {
        for (std::size_t i = next++; i < files.size(); i = next++) {
            BatchRow& row = rows[i];
            row.file = files[i];
            try {
                fit::Project p = project;
                p.datasets[0].file = std::filesystem::absolute(files[i]).string();
                std::unique_ptr<fit::FitProblem> problem = fit::buildProblem(p);
                FitArgs one = args;
                one.threads = 1;
                one.quiet = true;
                std::ostringstream quiet;
                FitOutcome o = runProjectFit(p, *problem, one, quiet);
                if (o.failed) {
                    row.message = o.message;
                } else {
                    o.report.project = args.project + " fitted to " + files[i];
                    writeFitResults(std::filesystem::path(files[i]).replace_extension("").string(),
                                    *problem, o);
                    row.report = std::move(o.report);
                    row.failed = false;
                }
            } catch (const std::exception& e) {
                row.message = e.what();
            }
            const std::lock_guard<std::mutex> lock(print);
            if (row.failed)
                err << "kelvarin-cli: " << row.file << ": " << row.message << "\n";
            else if (!args.quiet)
                out << row.file << ": " << row.report.searchStop << ", error "
                    << csvNumber(row.report.statistics.logError) << " %\n";
        }
    };
    std::vector<std::thread> threads;
    for (int w = 1; w < workers; ++w)
        threads.emplace_back(work);
    work();
    for (std::thread& t : threads)
        t.join();

    // The columns: the table of a fitted file, or the project's parameters when none was fitted
    // (the project's own measured file need not exist).
    fit::ParameterTable columns;
    const auto fitted =
        std::find_if(rows.begin(), rows.end(), [](const BatchRow& r) { return !r.failed; });
    if (fitted != rows.end()) {
        columns = fitted->report.table;
    } else {
        for (const fit::Parameter& p : project.profileParameters)
            columns.add(p);
        for (const fit::DatasetSpec& d : project.datasets)
            columns.add(d.width);
    }
    const std::string table =
        std::filesystem::path(args.project).replace_extension("").string() + ".batch.csv";
    writeResultFile(table, summaryCsv(columns, rows));
    const auto failed =
        std::count_if(rows.begin(), rows.end(), [](const BatchRow& r) { return r.failed; });
    if (!args.quiet)
        out << "fitted " << rows.size() - static_cast<std::size_t>(failed) << " of " << rows.size()
            << " files; wrote " << table << "\n";
    return failed == 0 ? 0 : 1;
}

}  // namespace kelvarin::cli
