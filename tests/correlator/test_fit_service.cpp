// Our fit service: called directly, and as Corvanel's fits find it beside the
// built libraries.
#include "Corvanel_api.h"
#include "fit_doubles.h"
#include "host.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace {

using fcs::test::fit_service_path;
using fcs::test::Library;
using fcs::test::library_path;

double diffusion(double x, const double* a, std::int32_t) noexcept {
    const double root = std::pow(x * a[2] / a[1] + 1.0, 0.5);
    const double linear = a[0] / (x / a[1] + 1.0);
    return linear / root + a[3];
}

// A noiseless diffusion curve on the lag axis i * 12.5 ns.
struct Curve {
    Curve(std::size_t n, std::vector<double> truth_) : truth(std::move(truth_)), x(n), y(n) {
        for (std::size_t i = 0; i < n; ++i) {
            x[i] = static_cast<double>(i) * 12.5;
            y[i] = diffusion(x[i], truth.data(), 4);
        }
    }
    std::vector<double> truth, x, y;
};

double relative(double value, double truth) { return std::fabs(value - truth) / std::fabs(truth); }

double mean_square(const std::vector<double>& y, const std::vector<double>& fitted) {
    double sum = 0.0;
    for (std::size_t i = 0; i < y.size(); ++i) sum += (y[i] - fitted[i]) * (y[i] - fitted[i]);
    return sum / static_cast<double>(y.size());
}

class FitService : public ::testing::Test {
protected:
    Library lib{fit_service_path()};
    fcs::FitServiceFn* fit = lib.fn<fcs::FitServiceFn>(fcs::kFitServiceExport);

    struct Result {
        std::int32_t status;
        std::vector<double> a, fitted;
        double mse;
    };
    Result run(const Curve& c, std::vector<double> start, std::int32_t iterations) {
        Result r{0, std::move(start), std::vector<double>(c.x.size(), -1.0), -1.0};
        r.status = fit(c.x.data(), c.y.data(), r.fitted.data(), static_cast<std::int32_t>(c.x.size()), iterations,
                       diffusion, r.a.data(), 4, &r.mse);
        return r;
    }
};

TEST_F(FitService, RecoversANoiselessCurve) {
    const Curve curve(400, {1.0e6, 300.0, 1.0, 2.0e5});
    const auto r = run(curve, {9.0e5, 450.0, 3.0, 2.1e5}, 100);
    ASSERT_EQ(r.status, fcs::kFitDone);
    for (std::size_t j = 0; j < 4; ++j) EXPECT_LT(relative(r.a[j], curve.truth[j]), 1e-6) << "coefficient " << j;
    // The curve is the model at the returned coefficients, the error its mean squared residual.
    for (std::size_t i = 0; i < curve.x.size(); ++i) EXPECT_EQ(r.fitted[i], diffusion(curve.x[i], r.a.data(), 4));
    EXPECT_DOUBLE_EQ(r.mse, mean_square(curve.y, r.fitted));
    EXPECT_LT(r.mse, 1e-6);
}

TEST_F(FitService, IterationLimitCountsIterations) {
    const Curve curve(400, {1.0e6, 300.0, 1.0, 2.0e5});
    const std::vector<double> start = {9.0e5, 450.0, 3.0, 2.1e5};

    // No iteration: the start, its curve and its error.
    const auto none = run(curve, start, 0);
    EXPECT_EQ(none.status, fcs::kFitDone);
    EXPECT_EQ(none.a, start);
    EXPECT_EQ(none.fitted[7], diffusion(curve.x[7], start.data(), 4));
    EXPECT_DOUBLE_EQ(none.mse, mean_square(curve.y, none.fitted));
    EXPECT_EQ(run(curve, start, -3).a, start);

    // Each further iteration lowers the error until the fit has converged.
    double previous = none.mse;
    for (std::int32_t limit : {1, 2, 3, 4}) {
        const auto r = run(curve, start, limit);
        EXPECT_LT(r.mse, previous) << limit << " iterations";
        previous = r.mse;
    }
    EXPECT_GT(previous, run(curve, start, 100).mse);
}

TEST_F(FitService, IsDeterministic) {
    const Curve curve(300, {5.0e5, 200.0, 3.0, 1.0e5});
    for (std::int32_t limit : {1, 50}) {
        const auto first = run(curve, {4.0e5, 150.0, 3.0, 1.1e5}, limit);
        const auto second = run(curve, {4.0e5, 150.0, 3.0, 1.1e5}, limit);
        EXPECT_EQ(first.a, second.a);
        EXPECT_EQ(first.fitted, second.fitted);
        EXPECT_EQ(first.mse, second.mse);
    }
}

TEST_F(FitService, RefusesWhatItCannotWorkWithAndWritesNothing) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Call {
        const char* what;
        std::int32_t expected;
        std::vector<double> x, y;
        std::vector<double> a = {10.0, 100.0, 3.0, 1.0};
        std::int32_t n = 6, ncoef = 4;
        bool no_x = false, no_y = false, no_fitted = false, no_model = false, no_a = false, no_mse = false;
    };
    const std::vector<double> x = {0, 12.5, 25, 37.5, 50, 62.5};
    const std::vector<double> y = {11, 9, 8, 7, 6, 5.5};
    std::vector<Call> calls = {
        {"n below the number of coefficients", fcs::kFitBadArguments, x, y},
        {"no coefficients", fcs::kFitBadArguments, x, y},
        {"negative n", fcs::kFitBadArguments, x, y},
        {"no x", fcs::kFitBadArguments, x, y},
        {"no y", fcs::kFitBadArguments, x, y},
        {"no fitted curve", fcs::kFitBadArguments, x, y},
        {"no model", fcs::kFitBadArguments, x, y},
        {"no coefficient array", fcs::kFitBadArguments, x, y},
        {"no error", fcs::kFitBadArguments, x, y},
        {"y not a number", fcs::kFitNotFinite, x, {11, 9, nan, 7, 6, 5.5}},
        {"x infinite", fcs::kFitNotFinite, {0, 12.5, 25, inf, 50, 62.5}, y},
        {"start not a number", fcs::kFitNotFinite, x, y, {10.0, nan, 3.0, 1.0}},
        // A characteristic lag of 0 makes the model 0 / 0 at x = 0.
        {"model not finite at the start", fcs::kFitNotFinite, x, y, {10.0, 0.0, 3.0, 1.0}},
    };
    calls[0].n = 3;
    calls[1].ncoef = 0;
    calls[2].n = -6;
    calls[3].no_x = true;
    calls[4].no_y = true;
    calls[5].no_fitted = true;
    calls[6].no_model = true;
    calls[7].no_a = true;
    calls[8].no_mse = true;
    for (auto& c : calls) {
        std::vector<double> fitted(6, -1.0);
        const std::vector<double> start = c.a;
        double mse = -1.0;
        const auto status = fit(c.no_x ? nullptr : c.x.data(), c.no_y ? nullptr : c.y.data(),
                                c.no_fitted ? nullptr : fitted.data(), c.n, 10, c.no_model ? nullptr : diffusion,
                                c.no_a ? nullptr : c.a.data(), c.ncoef, c.no_mse ? nullptr : &mse);
        EXPECT_EQ(status, c.expected) << c.what;
        EXPECT_EQ(fitted, std::vector<double>(6, -1.0)) << c.what;
        EXPECT_EQ(std::memcmp(c.a.data(), start.data(), sizeof(double) * 4), 0) << c.what;  // NaN as well
        EXPECT_EQ(mse, -1.0) << c.what;
    }
}

// A constant model that breaks down (not a number) above 5.
double breaks_above_five(double, const double* a, std::int32_t) noexcept {
    return a[0] > 5.0 ? std::numeric_limits<double>::quiet_NaN() : a[0];
}

TEST_F(FitService, StepsIntoAModelThatBreaksDownAreRefused) {
    // The data pull the coefficient towards 10, where the model breaks down:
    // the fit stays where the model is finite.
    const std::vector<double> x = {0, 1, 2}, y = {10, 10, 10};
    std::vector<double> fitted(3, -1.0), a = {1.0};
    double mse = -1.0;
    EXPECT_EQ(fit(x.data(), y.data(), fitted.data(), 3, 50, breaks_above_five, a.data(), 1, &mse), fcs::kFitDone);
    EXPECT_GT(a[0], 1.0);
    EXPECT_LE(a[0], 5.0);
    EXPECT_EQ(fitted, std::vector<double>(3, a[0]));
    EXPECT_DOUBLE_EQ(mse, (10.0 - a[0]) * (10.0 - a[0]));
}

// Integer counts of a diffusion curve large enough that rounding to whole
// counts hardly moves it.
std::vector<std::int32_t> counts_of(const Curve& c) {
    std::vector<std::int32_t> counts;
    for (double v : c.y) counts.push_back(static_cast<std::int32_t>(std::lround(v)));
    return counts;
}

TEST(CorvanelWithItsFitService, RecoversTheCoefficientsOfANoiselessCurve) {
    ASSERT_FALSE(Library::resident(fit_service_path()));
    {
        Library lib(library_path("Corvanel"));
        const Curve curve(400, {1.0e6, 300.0, 1.0, 2.0e5});
        auto counts = counts_of(curve);
        std::vector<double> fitted(400), coef(4);
        FCS_FN(lib, corvanel, ACFsetupArrIO)(400, 12.5);
        const double mse = FCS_FN(lib, corvanel, ACFFit1ArrIO)(counts.data(), 400, fitted.data(), coef.data(), 100, 20);

        EXPECT_LT(relative(coef[0], curve.truth[0]), 1e-3) << "amplitude " << coef[0];
        EXPECT_LT(relative(coef[1], curve.truth[1]), 1e-3) << "characteristic lag " << coef[1];
        const std::vector<double> y(counts.begin(), counts.end());
        EXPECT_DOUBLE_EQ(mse, mean_square(y, fitted));
        EXPECT_GT(mse, 0.0);  // the whole counts are not quite the curve
        EXPECT_LT(mse, 1.0);
        for (std::size_t i = 0; i < 400; i += 37) EXPECT_DOUBLE_EQ(fitted[i], diffusion(curve.x[i], coef.data(), 4));
    }
    // The library gave the service back when it was unloaded.
    EXPECT_FALSE(Library::resident(fit_service_path()));
}

TEST(CorvanelWithItsFitService, Fit1RunsOneIterationOnTheCorrelation) {
    Library lib(library_path("Corvanel"));
    auto* setup = FCS_FN(lib, corvanel, setupRealACF);
    auto* raw = FCS_FN(lib, corvanel, realACFraw);
    auto* raw_arr = FCS_FN(lib, corvanel, realACFrawArrIO);
    auto* fit_arr = FCS_FN(lib, corvanel, ACFFit1ArrIO);

    // Photons in bunches: many close pairs, fewer far ones.
    const std::int32_t mtau = 200;
    const std::int32_t mdelay = setup(mtau, 2.0, 12.5);
    std::vector<std::int32_t> delay(static_cast<std::size_t>(mdelay) + 1), acf(mtau + 1);
    acf[0] = 1;
    std::int32_t idelay = 0;
    for (int burst = 0; burst < 200; ++burst)
        for (std::int32_t tau : {2, 3, 5, 4, 7, 6, 11, 9, 40 + burst % 23, 260}) {
            raw(tau);
            raw_arr(delay.data(), acf.data(), tau, &idelay, mtau, mdelay);
        }

    // ACFFit1 is ACFFit1ArrIO on the whole correlation, over the same lag
    // axis, with 20 bisection steps and one iteration.
    const double own = FCS_FN(lib, corvanel, ACFFit1)();
    std::vector<double> fitted(mtau + 1), coef(4);
    EXPECT_EQ(own, fit_arr(acf.data(), mtau + 1, fitted.data(), coef.data(), 1, 20));
    EXPECT_GT(own, 0.0);
    EXPECT_NE(own, fit_arr(acf.data(), mtau + 1, fitted.data(), coef.data(), 2, 20));
}

}  // namespace
