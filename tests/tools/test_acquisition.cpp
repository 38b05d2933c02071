// The acquisition end to end, on simulated samples: every output agrees with
// the photon file it came from and with the other outputs, and the physical
// fit finds the diffusion time that the simulation was given.
#include "host.h"
#include "run_program.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using fcs::test::read_csv;
using fcs::test::read_file;
using fcs::test::read_records;
using fcs::test::run_host;
using fcs::test::summary_value;
using fcs::test::TempDir;

constexpr double kClockNs = 12.5;

// Absolute photon times in ticks, the first photon at 0.
std::vector<std::uint64_t> photon_times(const std::vector<std::uint32_t>& records) {
    std::vector<std::uint64_t> times(records.size() + 1, 0);
    for (std::size_t i = 0; i < records.size(); ++i) times[i + 1] = times[i] + records[i];
    return times;
}

// Pair counts by lag from 0 to mtau, as the streaming correlator defines
// them: entry 0 has one count per inter-photon time plus one per pair of
// photons in the same tick; entry d counts the pairs d ticks apart.
std::vector<std::int64_t> reference_pairs(const std::vector<std::uint64_t>& times, std::uint64_t mtau) {
    std::vector<std::int64_t> pairs(mtau + 1, 0);
    for (std::size_t later = 1; later < times.size(); ++later) {
        ++pairs[0];
        for (std::size_t earlier = later; earlier-- > 0;) {
            const std::uint64_t lag = times[later] - times[earlier];
            if (lag > mtau) break;
            ++pairs[lag];
        }
    }
    return pairs;
}

void expect_close(double value, double expected, const std::string& what) {
    EXPECT_NEAR(value, expected, 1e-8 * std::max(1.0, std::fabs(expected))) << what;
}

// A short demo sample (1 s, lags to 1 ms; the structure factor fitted within
// bounds) with every output checked against the photon file that the demo
// wrote and acquired.
TEST(Acquisition, OutputsAgreeWithThePhotonFileAndWithEachOther) {
    TempDir dir;
    const std::string out = dir.file("out");
    const auto run = run_host({"demo", "--duration", "1s", "--max-lag", "1ms", "--trace-bin", "100us", "--segments",
                               "10", "--seed", "7", "--library-iterations", "20", "--kappa-range", "2:20",
                               "--cross-check", "--no-figure", "--out", out},
                              dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::string summary = read_file(out + "/summary.txt");
    ASSERT_GE(run.out.size(), summary.size());
    EXPECT_EQ(run.out.substr(run.out.size() - summary.size()), summary) << "stdout ends with the summary file";

    const auto records = read_records(out + "/demo.ipt");
    const auto times = photon_times(records);
    ASSERT_GT(records.size(), 50000u);
    const auto A = static_cast<double>(records.size());
    const auto T = static_cast<double>(times.back());
    EXPECT_EQ(summary_value(summary, "input", "photon count (Dromilt)"), std::to_string(records.size()));
    EXPECT_EQ(summary_value(summary, "input", "ticks"), std::to_string(times.back()));
    EXPECT_EQ(summary_value(summary, "correlator", "refused steps"), "0");
    EXPECT_EQ(summary_value(summary, "cross-check", "correlation").rfind("identical", 0), 0u) << summary;
    EXPECT_EQ(summary_value(summary, "cross-check", "histogram").rfind("identical", 0), 0u) << summary;

    // The correlation: pair counts as counted from the photon times, and the
    // normalized curve and the normalized library fit recomputed from them.
    const auto corr = read_csv(out + "/correlation.csv");
    const std::uint64_t mtau = 80000;  // 1 ms of 12.5 ns
    ASSERT_EQ(corr.rows(), mtau + 1);
    const auto expected_pairs = reference_pairs(times, mtau);
    std::size_t wrong_pairs = 0;
    for (std::size_t i = 0; i <= mtau; ++i) {
        if (corr["pairs"][i] != static_cast<double>(expected_pairs[i]) && wrong_pairs++ < 5)
            ADD_FAILURE() << "pairs at lag " << i << ": " << corr["pairs"][i] << ", counted " << expected_pairs[i];
        const double baseline = (A / T) * (A / T) * (T - static_cast<double>(i));
        expect_close(corr["lag_ns"][i], static_cast<double>(i) * kClockNs, "lag " + std::to_string(i));
        expect_close(corr["normalized"][i], corr["pairs"][i] / baseline - 1.0, "normalized " + std::to_string(i));
        expect_close(corr["library_fit_normalized"][i], corr["library_fit"][i] / baseline - 1.0,
                     "library fit " + std::to_string(i));
    }
    EXPECT_EQ(wrong_pairs, 0u);

    // The averaged curve: each bin pooled from the single lags of correlation.csv.
    const double td_ns = std::stod(summary_value(summary, "physical fit", "diffusion time")) * 1e6;
    const double molecules = std::stod(summary_value(summary, "physical fit", "molecules"));
    const double offset = std::stod(summary_value(summary, "physical fit", "offset G_inf"));
    const double kappa = std::stod(summary_value(summary, "physical fit", "structure factor"));
    EXPECT_GE(kappa, 2.0);
    EXPECT_LE(kappa, 20.0);
    const auto avg = read_csv(out + "/correlation_averaged.csv");
    ASSERT_GT(avg.rows(), 30u);
    EXPECT_EQ(avg["first_lag_ns"][0], kClockNs) << "lag 0 is left out";
    EXPECT_EQ(avg["last_lag_ns"][avg.rows() - 1], static_cast<double>(mtau) * kClockNs);
    for (std::size_t b = 0; b < avg.rows(); ++b) {
        const auto first = static_cast<std::size_t>(std::llround(avg["first_lag_ns"][b] / kClockNs));
        const auto last = static_cast<std::size_t>(std::llround(avg["last_lag_ns"][b] / kClockNs));
        if (b > 0) {
            EXPECT_EQ(first, static_cast<std::size_t>(std::llround(avg["last_lag_ns"][b - 1] / kClockNs)) + 1);
        }
        EXPECT_EQ(avg["lags"][b], static_cast<double>(last - first + 1));
        double pairs = 0.0, baseline = 0.0;
        for (std::size_t i = first; i <= last; ++i) {
            pairs += corr["pairs"][i];
            baseline += (A / T) * (A / T) * (T - static_cast<double>(i));
        }
        expect_close(avg["g"][b], pairs / baseline - 1.0, "averaged bin " + std::to_string(b));
        if (avg["in_fit"][b] == 1.0) {
            EXPECT_GT(avg["g_se"][b], 0.0) << b;
        }
        // The fit column: the model of the summary's fit, averaged over the
        // bin's lags as the data are (the summary rounds to 6 digits).
        double model = 0.0;
        for (std::size_t i = first; i <= last; ++i) {
            const double t = static_cast<double>(i) * kClockNs;
            model += offset + 1.0 / molecules / (1.0 + t / td_ns) / std::sqrt(1.0 + t / (kappa * kappa * td_ns));
        }
        model /= static_cast<double>(last - first + 1);
        EXPECT_NEAR(avg["fit"][b], model, 2e-5 * std::fabs(model) + 1e-6) << "fit over bin " << b;
    }

    // The histogram: every record counted in its slot; the range is whole slots.
    const auto hist = read_csv(out + "/histogram.csv");
    ASSERT_GT(hist.rows(), 100u);
    const auto lb = static_cast<std::uint64_t>(hist["ipt_ticks"][0]);
    const auto itv = static_cast<std::uint64_t>(hist["ipt_ticks"][1] - hist["ipt_ticks"][0]);
    std::vector<double> counted(hist.rows(), 0.0);
    for (std::uint32_t ipt : records)
        if (ipt >= lb && (ipt - lb) / itv < counted.size()) ++counted[(ipt - lb) / itv];
    for (std::size_t k = 0; k < hist.rows(); ++k) {
        EXPECT_EQ(hist["count"][k], counted[k]) << "histogram slot " << k;
        expect_close(hist["ipt_ns"][k], hist["ipt_ticks"][k] * kClockNs, "histogram slot " + std::to_string(k));
    }

    // The trace: photons per 100 us bin from the photon times; the bin of the
    // last photon is still open and not reported.
    const auto trace = read_csv(out + "/trace.csv");
    const std::uint64_t width = 8000;
    std::vector<double> per_bin(times.back() / width + 1, 0.0);
    for (std::uint64_t t : times) ++per_bin[t / width];
    per_bin.pop_back();
    ASSERT_EQ(trace.rows(), per_bin.size());
    for (std::size_t k = 0; k < per_bin.size(); ++k) {
        EXPECT_EQ(trace["photons"][k], per_bin[k]) << "trace bin " << k;
        expect_close(trace["time_s"][k], static_cast<double>(k) * 100e-6, "trace bin " + std::to_string(k));
    }
    // The libraries' fit saw the lag-0 entry replaced by the lag-1 count: its
    // molecules (offset / amplitude) then land near those of the sample, where
    // a photon count at lag 0 would have pulled the amplitude far up.
    const double library_molecules = std::stod(summary_value(summary, "libraries' fit", "molecules (offset / amplitude)"));
    EXPECT_NEAR(library_molecules, 5.11, 1.0);
}

// A sample long enough that 10 % is four standard errors of the fitted
// diffusion time: 6 s, lags to 5 ms, 32 diffusion times.
TEST(Acquisition, PhysicalFitFindsTheSimulatedDiffusionTime) {
    TempDir dir;
    const auto run = run_host({"demo", "--duration", "6s", "--max-lag", "5ms", "--seed", "3", "--library-iterations",
                               "1", "--no-figure", "--out", dir.file("out")},
                              dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string summary = read_file(dir.file("out/summary.txt"));
    const std::string td = summary_value(summary, "physical fit", "diffusion time");
    const std::string n = summary_value(summary, "physical fit", "molecules");
    ASSERT_FALSE(td.empty()) << summary;
    const double truth_ms = 0.25 * 0.25 / (4.0 * 100.0) * 1e3;
    EXPECT_NEAR(std::stod(td), truth_ms, 0.1 * truth_ms) << summary;
    // The standard error is a small fraction of the value, and the truth lies
    // within a few of them.
    const double se = std::stod(td.substr(td.find("+-") + 2));
    EXPECT_GT(se, 0.0);
    EXPECT_LT(se, 0.03 * truth_ms);
    EXPECT_LT(std::fabs(std::stod(td) - truth_ms), 4.0 * se) << summary;
    EXPECT_NEAR(std::stod(n), 5.1138, 0.1 * 5.1138) << summary;
    // The truth beside it: N, and N as the background dilutes the amplitude.
    EXPECT_EQ(summary_value(summary, "truth (simulated", "molecules")
                  .rfind("5 in the volume, 5.11378 as the correlation shows them through the background", 0),
              0u)
        << summary;
    EXPECT_NE(summary_value(summary, "truth (simulated", "diffusion time").find("0.15625 ms"), std::string::npos)
        << summary;
}

// Bursts that overflow a small window: every refused step is counted, and the
// window is emptied after it so that counting goes on.
TEST(Acquisition, RefusedStepsAreCountedAndCountingGoesOn) {
    TempDir dir;
    // Photons 50 ticks apart, and every 100th photon a burst of 10 photons
    // 2 ticks apart: with lags to 160 ticks a window bound of 5 photons holds
    // the regular stream but not the bursts.
    std::string bytes;
    std::size_t records = 0;
    for (int group = 0; group < 200; ++group)
        for (int i = 0; i < 110; ++i, ++records) {
            const std::uint32_t tau = i < 100 ? 50 : 2;
            for (int b = 0; b < 4; ++b) bytes += static_cast<char>((tau >> (8 * b)) & 0xFF);
        }
    fcs::test::write_file(dir.file("bursts.ipt"), bytes);
    const auto run = run_host({"acquire", dir.file("bursts.ipt"), "--clock", "12.5", "--max-lag", "160ticks",
                               "--duty-factor", "0.025", "--cross-check", "--no-figure", "--out", dir.file("out")},
                              dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string summary = read_file(dir.file("out/summary.txt"));
    const std::string refused_text = summary_value(summary, "correlator", "refused steps");
    const auto refused = std::stoull(refused_text);
    EXPECT_GT(refused, 0u) << summary;
    EXPECT_LT(refused, records / 10) << "the window was emptied after each refusal\n" << summary;
    // Each step taken counts its photon at lag 0 (the stream has no zero gaps).
    const auto corr = read_csv(dir.file("out/correlation.csv"));
    ASSERT_EQ(corr.rows(), 161u);
    EXPECT_EQ(corr["pairs"][0] + static_cast<double>(refused), static_cast<double>(records));
    EXPECT_GT(corr["pairs"][50], 0.9 * 200 * 99) << "regular pairs after the bursts are still counted";
    EXPECT_EQ(summary_value(summary, "cross-check", "correlation").rfind("not run", 0), 0u) << summary;
}

// The figure, where matplotlib is there to draw it.
TEST(Acquisition, DrawsTheFigureWithMatplotlib) {
    if (std::system("/usr/bin/python3 -c 'import matplotlib' > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "matplotlib for /usr/bin/python3 is not installed";
    TempDir dir;
    const auto run = run_host({"demo", "--duration", "0.3s", "--max-lag", "100us", "--library-iterations", "1",
                               "--out", dir.file("out")},
                              dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string png = read_file(dir.file("out/figure.png"));
    ASSERT_GT(png.size(), 1000u);
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    EXPECT_NE(run.out.find("figure: " + dir.file("out/figure.png")), std::string::npos) << run.out;
}

}  // namespace
