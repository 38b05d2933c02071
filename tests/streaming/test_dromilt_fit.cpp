// Dromilt's fit of the host's curve as the fit service sees it: a copy of the
// library in a folder of its own with the recording stand-in beside it, or
// with nothing, or with the real service.
#include "Dromilt_api.h"
#include "fit_doubles.h"
#include "host.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using fcs::kFitServiceFile;
using fcs::test::fit_service_loaded;
using fcs::test::in_fresh_process;
using fcs::test::Library;
using fcs::test::library_path;
using fcs::test::loaded_recorder;
using fcs::test::place_copy;
using fcs::test::recording_fit_service_path;
using fcs::test::rerun_in_fresh_process;
using fcs::test::TempDir;

// Ten points: head (entry 3) 60, tail (entry 6) 10, level 22.5.
const std::vector<std::int32_t> kCurve = {100, 90, 80, 60, 40, 20, 10, 5, 5, 5};

// A copy of Dromilt in `folder`, set up for the curve, with the host's
// output arrays holding values no fit writes.
struct DromiltFit {
    explicit DromiltFit(const std::string& folder)
        : lib(place_copy(folder, library_path("Dromilt"), fcs::test::library_file_name("Dromilt"))),
          setup(FCS_FN(lib, dromilt, setupRealDromilt)),
          fit(FCS_FN(lib, dromilt, fitRealDromilt)),
          release(FCS_FN(lib, dromilt, freeRealDromilt)) {}

    double run(std::int32_t maxiter, std::int32_t guess) {
        return fit(curve.data(), fitted.data(), coef.data(), maxiter, guess);
    }
    void reset_outputs() {
        fitted.assign(fitted.size(), -777.0);
        coef.assign(4, -999.0);
    }

    Library lib;
    dromilt_api::setupRealDromilt_fn* setup;
    dromilt_api::fitRealDromilt_fn* fit;
    dromilt_api::freeRealDromilt_fn* release;
    std::vector<std::int32_t> curve = kCurve;
    std::vector<double> fitted = std::vector<double>(kCurve.size(), -777.0);
    std::vector<double> coef = std::vector<double>(4, -999.0);
};

class DromiltFitRecorded : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(fit_service_loaded()) << "another fit service is loaded in this process"; }
    std::size_t calls() const {
        const auto* recorder = loaded_recorder(service);
        return recorder ? recorder->calls.size() : 0;
    }

    TempDir dir;
    std::string service = place_copy(dir.path(), recording_fit_service_path(), kFitServiceFile);
    DromiltFit d{dir.path()};
};

TEST_F(DromiltFitRecorded, HandsTheServiceTheCurveTheLagAxisAndTheStart) {
    d.setup(9, 1.0, 12.5);
    EXPECT_EQ(d.run(37, 20), 0.5);  // the error the stand-in wrote
    ASSERT_EQ(calls(), 1u);
    const auto& c = loaded_recorder(service)->calls[0];
    EXPECT_EQ(c.n, 10);
    std::vector<double> lags;
    for (int i = 0; i < 10; ++i) lags.push_back(i * 12.5);
    EXPECT_EQ(c.xs, lags);
    EXPECT_EQ(c.ys, std::vector<double>(kCurve.begin(), kCurve.end()));
    EXPECT_EQ(c.max_iter, 37);
    EXPECT_EQ(c.ncoef, 4);
    EXPECT_EQ(c.fitted, d.fitted.data());
    EXPECT_EQ(c.a, d.coef.data());
    // Bisection ends with lo 4, hi 5: lag entry 4.
    EXPECT_EQ(c.start, (std::vector<double>{50.0, 50.0, 3.0, 10.0}));
    // The model at the guessed lag meets the level the bisection looked for.
    EXPECT_EQ(c.model(50.0, c.start.data(), 4), 22.5);
    for (std::size_t i = 0; i < 10; ++i) EXPECT_EQ(d.fitted[i], c.model(lags[i], c.start.data(), 4));
}

TEST_F(DromiltFitRecorded, BisectionStepsSetTheStartingLag) {
    d.setup(9, 1.0, 12.5);
    struct Case {
        std::int32_t guess;
        double lag;
    };
    // guess 0: the middle of the whole curve, entry 9 / 2 = 4.
    for (const Case c : {Case{20, 50.0}, Case{1, 75.0}, Case{2, 62.5}, Case{0, 50.0}, Case{-3, 50.0}}) {
        d.reset_outputs();
        d.run(1, c.guess);
        EXPECT_EQ(d.coef, (std::vector<double>{50.0, c.lag, 3.0, 10.0})) << "guess " << c.guess;
    }
}

TEST_F(DromiltFitRecorded, SevenPointsAtTheLeast) {
    d.setup(5, 1.0, 12.5);
    EXPECT_EQ(d.run(1, 20), 0.0);
    EXPECT_EQ(d.coef, std::vector<double>(4, -999.0));
    EXPECT_EQ(d.fitted, std::vector<double>(10, -777.0));
    EXPECT_EQ(calls(), 0u);

    // Seven points: head and tail are both entry 3, so the amplitude is 0.
    d.setup(6, 1.0, 12.5);
    EXPECT_EQ(d.run(1, 20), 0.5);
    EXPECT_EQ(d.coef[0], 0.0);
    EXPECT_EQ(d.coef[3], 60.0);
    EXPECT_EQ(d.coef[2], 3.0);
    EXPECT_EQ(calls(), 1u);
    EXPECT_EQ(loaded_recorder(service)->calls[0].n, 7);
}

TEST_F(DromiltFitRecorded, NoLiveSetUpFitsNothing) {
    EXPECT_EQ(d.run(1, 20), 0.0);  // before any set-up
    d.setup(9, 1.0, 12.5);
    d.release();
    EXPECT_EQ(d.run(1, 20), 0.0);  // after release
    d.setup(-1, 1.0, 12.5);
    EXPECT_EQ(d.run(1, 20), 0.0);  // after a set-up that built nothing
    EXPECT_EQ(d.coef, std::vector<double>(4, -999.0));
    EXPECT_EQ(d.fitted, std::vector<double>(10, -777.0));
    EXPECT_EQ(calls(), 0u);
}

TEST(DromiltFitLookup, WithoutAServiceTheStartIsWrittenAndTheCurveLeftAlone) {
    if (!in_fresh_process()) {
        EXPECT_TRUE(rerun_in_fresh_process());
        return;
    }
    ASSERT_FALSE(fit_service_loaded());
    TempDir dir;
    DromiltFit alone(dir.path());
    alone.setup(9, 1.0, 12.5);
    EXPECT_EQ(alone.run(5, 20), 0.0);
    EXPECT_EQ(alone.coef, (std::vector<double>{50.0, 50.0, 3.0, 10.0}));
    EXPECT_EQ(alone.fitted, std::vector<double>(10, -777.0));

    // Nothing was cached: a service placed beside the library now is found.
    const auto service = place_copy(dir.path(), recording_fit_service_path(), kFitServiceFile);
    EXPECT_EQ(alone.run(5, 20), 0.5);
    ASSERT_NE(loaded_recorder(service), nullptr);
    EXPECT_EQ(loaded_recorder(service)->calls.size(), 1u);
}

TEST(DromiltFitService, TheRealServiceFitsTheHostsCurve) {
    // Built beside the libraries, the real service is found there.
    Library lib(library_path("Dromilt"));
    const std::int32_t mtau = 400;
    FCS_FN(lib, dromilt, setupRealDromilt)(mtau, 1.0, 10.0);
    // Pair counts of a diffusing sample: the model rounded to whole counts.
    // (The fit starts from a square-root factor of 3; far smaller factors can
    // settle in another minimum, a limit of the model's start, not of the
    // service.)
    const double truth[] = {5.0e6, 600.0, 1.0, 1.0e6};
    std::vector<std::int32_t> curve(mtau + 1);
    for (std::int32_t i = 0; i <= mtau; ++i) {
        const double x = i * 10.0;
        curve[i] = static_cast<std::int32_t>(
            std::lround(truth[0] / (1.0 + x / truth[1]) / std::sqrt(1.0 + x * truth[2] / truth[1]) + truth[3]));
    }
    std::vector<double> fitted(mtau + 1), coef(4);
    const double mse = FCS_FN(lib, dromilt, fitRealDromilt)(curve.data(), fitted.data(), coef.data(), 200, 20);

    EXPECT_NEAR(coef[0], truth[0], 1e-3 * truth[0]);
    EXPECT_NEAR(coef[1], truth[1], 1e-3 * truth[1]);
    EXPECT_NEAR(coef[2], truth[2], 1e-2 * truth[2]);
    EXPECT_NEAR(coef[3], truth[3], 1e-3 * truth[3]);
    double residual = 0.0;
    for (std::int32_t i = 0; i <= mtau; ++i) residual += std::pow(curve[i] - fitted[i], 2.0);
    EXPECT_NEAR(mse, residual / (mtau + 1), 1e-9 * residual);
    EXPECT_LT(mse, 1.0);  // only the rounding to whole counts remains
}

}  // namespace
