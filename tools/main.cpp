// fcs-host: the reference host program. It loads the seven library files at
// run time and runs the typical acquisition on an inter-photon time file, on
// a simulated one, or on the embedded default sample (demo).
#include "acquisition.h"
#include "averaging.h"
#include "csv_output.h"
#include "cross_check.h"
#include "failure.h"
#include "figure.h"
#include "library_set.h"
#include "options.h"
#include "output_file.h"
#include "physical_fit.h"
#include "plan.h"
#include "simulator.h"
#include "summary.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <new>

namespace fcs::host {

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void run_acquire(const AcquireSettings& settings, const std::optional<Sample>& truth) {
    const LibrarySet libs(settings.library_folder.empty() ? default_library_folder() : settings.library_folder);
    Report report;
    report.input = settings.input;
    report.truth = truth;
    report.scan = scan_photon_file(settings.input);
    if (report.scan.trailing_bytes > 0)
        std::fprintf(stderr, "warning: %s ends with %llu bytes that make no whole 4-byte record; they are ignored\n",
                     settings.input.c_str(), static_cast<unsigned long long>(report.scan.trailing_bytes));
    report.plan = make_plan(settings, report.scan, libs);
    report.folder = settings.out_folder;
    make_folder(report.folder);

    const Setup& setup = report.plan.setup;
    const LagBins bins = quasi_log_bins(setup.mtau, settings.per_decade);
    const Acquisition a = acquire(settings.input, report.scan, setup, bins, libs, isatty(STDERR_FILENO) == 1);
    report.acquisition = &a;

    auto start = Clock::now();
    const std::vector<AveragedPoint> averaged = average_correlation(bins, a.whole, a.segments, setup.clock_ns);
    std::vector<bool> in_fit(averaged.size());
    for (std::size_t j = 0; j < averaged.size(); ++j)
        in_fit[j] = bins.first[j] >= report.plan.fit_first && bins.last[j] <= report.plan.fit_last;
    const auto fit_range = [&](const std::vector<AveragedPoint>& points) {
        std::vector<AveragedPoint> chosen;
        for (std::size_t j = 0; j < points.size(); ++j)
            if (in_fit[j]) chosen.push_back(points[j]);
        return chosen;
    };
    report.fit_settings = {settings.kappa, settings.kappa_low, settings.kappa_high};
    report.fit = fit_diffusion(fit_range(averaged), report.fit_settings);
    if (report.fit.done) {
        std::vector<std::vector<AveragedPoint>> leave_outs;
        for (const PairSums& segment : a.segments)
            leave_outs.push_back(fit_range(leave_segment_out(averaged, bins, a.whole, segment)));
        report.jackknife = jackknife_errors(leave_outs, report.fit_settings);
    }
    report.fit_seconds = seconds_since(start);

    if (settings.cross_check) report.cross = cross_check(settings.input, report.folder, setup, a, libs);

    start = Clock::now();
    const std::string& dir = report.folder;
    write_correlation_csv(dir + "/correlation.csv", a, setup.clock_ns);
    write_averaged_csv(dir + "/correlation_averaged.csv", averaged, in_fit, report.fit);
    write_histogram_csv(dir + "/histogram.csv", a, setup);
    write_trace_csv(dir + "/trace.csv", a, setup);
    report.outputs = {"correlation.csv", "correlation_averaged.csv", "histogram.csv", "trace.csv", "summary.txt"};
    report.write_seconds = seconds_since(start);

    const auto write_summary = [&] {
        OutputFile summary(dir + "/summary.txt");
        summary.write(summary_text(report));
        summary.commit();
    };
    write_summary();  // the figure's title quotes the fit from it
    if (settings.figure) {
        start = Clock::now();
        report.figure = draw_figure(dir);
        report.figure_seconds = seconds_since(start);
        if (report.figure->drawn)
            report.outputs.push_back("figure.png");
        else
            std::fprintf(stderr, "warning: figure not drawn: %s\n", report.figure->problem.c_str());
        write_summary();
    }
    std::fputs(summary_text(report).c_str(), stdout);
    if (report.cross && !report.cross->agreed) throw Failure("the cross-check found a difference (see above)");
}

void run_simulate(const Sample& sample, const std::string& path) {
    const auto start = Clock::now();
    const std::vector<std::uint64_t> photons = simulate_photons(sample);
    const std::uint64_t records = write_photon_file(path, photons);
    std::printf("simulated: %s\n", path.c_str());
    std::printf("  inter-photon times: %llu\n", static_cast<unsigned long long>(records));
    std::printf("  duration: %.6g s at a clock period of %.6g ns, seed %llu\n", sample.duration_s, sample.clock_ns,
                static_cast<unsigned long long>(sample.seed));
    std::printf("  mean count rate: %.6g kHz expected, %.6g kHz simulated\n", sample.mean_rate_hz() / 1e3,
                static_cast<double>(records) / sample.duration_s / 1e3);
    std::printf("  diffusion time: %.6g ms, structure factor %.6g, molecules %.6g (%.6g seen through the background)\n",
                sample.diffusion_time_s() * 1e3, sample.structure_factor(), sample.molecules,
                sample.apparent_molecules());
    std::printf("  time: %.3g s\n", seconds_since(start));
}

int run(int argc, char** argv) {
    const Command command = parse_command_line(argc - 1, argv + 1);
    switch (command.kind) {
        case Command::kHelp:
            std::fputs(usage_text(), stdout);
            return 0;
        case Command::kSimulate:
            run_simulate(command.sample, command.simulate_output);
            return 0;
        case Command::kAcquire:
            run_acquire(command.acquire, std::nullopt);
            return 0;
        case Command::kDemo: {
            AcquireSettings settings = command.acquire;
            make_folder(settings.out_folder);
            settings.input = settings.out_folder + "/demo.ipt";
            run_simulate(command.sample, settings.input);
            run_acquire(settings, command.sample);
            return 0;
        }
    }
    return 0;
}

}  // namespace

}  // namespace fcs::host

int main(int argc, char** argv) {
    try {
        return fcs::host::run(argc, argv);
    } catch (const fcs::host::Failure& failure) {
        std::fflush(stdout);
        std::fprintf(stderr, "fcs-host: error: %s\n", failure.what());
    } catch (const std::bad_alloc&) {
        std::fflush(stdout);
        std::fprintf(stderr, "fcs-host: error: out of memory\n");
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "fcs-host: error: %s\n", e.what());
    }
    return 1;
}
