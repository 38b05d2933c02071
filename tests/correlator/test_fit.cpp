// Corvanel's diffusion-model fits as the fit service sees them: a copy of the
// library in a folder of its own, with the recording stand-in (or a decoy, or
// nothing) beside it.
#include "Corvanel_api.h"
#include "fit_doubles.h"
#include "host.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using fcs::kFitServiceFile;
using fcs::test::capture;
using fcs::test::fit_service_loaded;
using fcs::test::in_fresh_process;
using fcs::test::Library;
using fcs::test::library_path;
using fcs::test::loaded_recorder;
using fcs::test::place_copy;
using fcs::test::RecordedFit;
using fcs::test::recording_fit_service_path;
using fcs::test::rerun_in_fresh_process;
using fcs::test::TempDir;

struct Exports {
    explicit Exports(const Library& lib)
        : setup(FCS_FN(lib, corvanel, setupRealACF)),
          raw(FCS_FN(lib, corvanel, realACFraw)),
          fit1(FCS_FN(lib, corvanel, ACFFit1)),
          setup_arr(FCS_FN(lib, corvanel, ACFsetupArrIO)),
          fit_arr(FCS_FN(lib, corvanel, ACFFit1ArrIO)),
          release(FCS_FN(lib, corvanel, ACFFree)) {}
    corvanel_api::setupRealACF_fn* setup;
    corvanel_api::realACFraw_fn* raw;
    corvanel_api::ACFFit1_fn* fit1;
    corvanel_api::ACFsetupArrIO_fn* setup_arr;
    corvanel_api::ACFFit1ArrIO_fn* fit_arr;
    corvanel_api::ACFFree_fn* release;
};

std::vector<double> lag_axis(std::size_t n, double clock_ns) {
    std::vector<double> lags(n);
    for (std::size_t i = 0; i < n; ++i) lags[i] = static_cast<double>(i) * clock_ns;
    return lags;
}

// A falling curve of 8 points: head 80, tail 5, level 23.75.
const std::vector<std::int32_t> kCurve = {100, 80, 60, 40, 20, 10, 5, 5};
const std::vector<double> kCurveStart = {75.0, 37.5, 3.0, 5.0};

// The caller's arrays of a fit, filled with values that no fit writes.
struct CallerArrays {
    explicit CallerArrays(std::size_t n) : fitted(n, -777.0) {}
    std::vector<double> fitted;
    std::vector<double> coef = std::vector<double>(4, -999.0);
};

// A copy of Corvanel in a folder of its own with the recording stand-in
// beside it, so that nothing else can serve its fits.
class CorvanelFit : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(fcs::test::Library::resident(service)) << "the stand-in must wait for the first fit";
    }

    // The calls the stand-in recorded; none while it is not loaded.
    std::vector<RecordedFit> calls() const {
        const auto* recorder = loaded_recorder(service);
        return recorder ? recorder->calls : std::vector<RecordedFit>{};
    }

    TempDir dir;
    std::string service = place_copy(dir.path(), recording_fit_service_path(), kFitServiceFile);
    Library lib{place_copy(dir.path(), library_path("Corvanel"), fcs::test::library_file_name("Corvanel"))};
    Exports fns{lib};
};

TEST_F(CorvanelFit, Fit1HandsTheServiceTheWholeCorrelation) {
    ASSERT_FALSE(fit_service_loaded()) << "another fit service is loaded in this process";
    ASSERT_EQ(fns.setup(10, 1.0, 12.5), 11);
    for (std::int32_t tau : {3, 4, 5}) fns.raw(tau);
    EXPECT_EQ(fns.fit1(), 0.5);  // the error that the service wrote

    // Then accumulation goes on (a photon 2 ticks later pairs at lags 2 and 7),
    // and the next fit hands the grown correlation.
    EXPECT_EQ(fns.raw(2), 2);
    EXPECT_EQ(fns.fit1(), 0.5);

    const auto recorded = calls();
    ASSERT_EQ(recorded.size(), 2u);
    const std::vector<std::vector<double>> curves = {{4, 0, 0, 1, 1, 1, 0, 1, 0, 1, 0}, {5, 0, 1, 1, 1, 1, 0, 2, 0, 1, 0}};
    for (std::size_t k = 0; k < 2; ++k) {
        const auto& c = recorded[k];
        EXPECT_EQ(c.n, 11);
        EXPECT_EQ(c.xs, lag_axis(11, 12.5));
        EXPECT_EQ(c.ys, curves[k]);
        EXPECT_EQ(c.max_iter, 1);
        EXPECT_EQ(c.ncoef, 4);
        // Head y[1] = 0, tail y[9] = 1: level 0.75, last point above it y[7].
        EXPECT_EQ(c.start, (std::vector<double>{-1.0, 87.5, 3.0, 1.0}));
        // The fitted curve goes to a buffer of the library's own.
        EXPECT_NE(c.fitted, nullptr);
        EXPECT_NE(c.fitted, c.x);
        EXPECT_NE(c.fitted, c.y);
        EXPECT_NE(c.mse, nullptr);
    }
}

TEST_F(CorvanelFit, Fit1ArrIOHandsTheServiceTheCallersArrays) {
    fns.setup_arr(8, 12.5);
    CallerArrays out(8);
    std::vector<std::int32_t> curve = kCurve;
    EXPECT_EQ(fns.fit_arr(curve.data(), 8, out.fitted.data(), out.coef.data(), 37, 20), 0.5);

    auto recorded = calls();
    ASSERT_EQ(recorded.size(), 1u);
    const auto& c = recorded[0];
    EXPECT_EQ(c.n, 8);
    EXPECT_EQ(c.xs, lag_axis(8, 12.5));
    EXPECT_EQ(c.ys, std::vector<double>(kCurve.begin(), kCurve.end()));
    EXPECT_EQ(c.fitted, out.fitted.data());
    EXPECT_EQ(c.max_iter, 37);
    EXPECT_EQ(c.a, out.coef.data());
    EXPECT_EQ(c.start, kCurveStart);
    EXPECT_EQ(c.ncoef, 4);
    EXPECT_EQ(out.coef, kCurveStart);  // the stand-in leaves them as it found them
    for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(out.fitted[i], c.model(c.xs[i], kCurveStart.data(), 4));

    // A failing service: its status is ignored and the error is what it left,
    // here nothing, so 0.0 and no fitted curve.
    auto& recorder = *loaded_recorder(service);
    recorder.status = -7;
    CallerArrays failed(8);
    EXPECT_EQ(fns.fit_arr(curve.data(), 8, failed.fitted.data(), failed.coef.data(), 37, 20), 0.0);
    EXPECT_EQ(failed.coef, kCurveStart);
    EXPECT_EQ(failed.fitted, std::vector<double>(8, -777.0));
    recorder.status = 0;
    recorder.mse = 2.25;
    EXPECT_EQ(fns.fit_arr(curve.data(), 8, failed.fitted.data(), failed.coef.data(), 37, 20), 2.25);
}

TEST_F(CorvanelFit, InitialGuessBisectsTowardTheQuarterLevel) {
    struct Case {
        const char* what;
        std::vector<std::int32_t> curve;
        std::int32_t guess;
        std::vector<double> start;
    };
    const Case cases[] = {
        {"20 steps end with lo 3, hi 4", kCurve, 20, kCurveStart},
        {"one step: middle of 3..7", kCurve, 1, {75.0, 62.5, 3.0, 5.0}},
        {"no step: middle of 0..7", kCurve, 0, kCurveStart},
        {"negative steps: none", kCurve, -5, kCurveStart},
        {"the most steps end where 20 do", kCurve, 2147483647, kCurveStart},
        {"the most steps, equality at the end", {100, 80, 60, 35, 30, 25, 20, 20}, 2147483647, {60.0, 25.0, 3.0, 20.0}},
        // Head is entry 1 and tail entry n - 2, not the ends.
        {"tail is the last point but one", {100, 80, 60, 40, 20, 10, 6, 4}, 20, {74.0, 37.5, 3.0, 6.0}},
        // Level 35 equals y[3]: the upper bound moves, so one step leaves 0..3.
        {"a point at the level moves the upper bound", {100, 80, 60, 35, 30, 25, 20, 20}, 1, {60.0, 12.5, 3.0, 20.0}},
        {"three points: head and tail coincide", {10, 8, 2}, 20, {0.0, 0.0, 3.0, 8.0}},
    };
    fns.setup_arr(8, 12.5);
    for (const auto& c : cases) {
        CallerArrays out(c.curve.size());
        std::vector<std::int32_t> curve = c.curve;
        const auto n = static_cast<std::int32_t>(curve.size());
        fns.fit_arr(curve.data(), n, out.fitted.data(), out.coef.data(), 5, c.guess);
        EXPECT_EQ(out.coef, c.start) << c.what;
        ASSERT_FALSE(calls().empty());
        EXPECT_EQ(calls().back().start, c.start) << c.what;
    }
}

TEST_F(CorvanelFit, CurvesOfTwoPointsOrFewerAreNotFitted) {
    fns.setup_arr(8, 12.5);
    std::vector<std::int32_t> curve = kCurve;
    for (std::int32_t arrsize : {2, 1, 0, -1}) {
        CallerArrays out(8);
        EXPECT_EQ(fns.fit_arr(curve.data(), arrsize, out.fitted.data(), out.coef.data(), 5, 20), 0.0) << arrsize;
        EXPECT_EQ(out.coef, std::vector<double>(4, -999.0)) << arrsize;
        EXPECT_EQ(out.fitted, std::vector<double>(8, -777.0)) << arrsize;
    }
    EXPECT_TRUE(calls().empty());
}

TEST_F(CorvanelFit, NoFitWithoutAWorkspaceForItsPoints) {
    std::vector<std::int32_t> curve = kCurve;
    const auto fit_arr = [&](CallerArrays& out) {
        return fns.fit_arr(curve.data(), 8, out.fitted.data(), out.coef.data(), 5, 20);
    };
    struct Case {
        const char* what;
        std::function<void()> before;
        bool own_correlation;  // ACFFit1, or else ACFFit1ArrIO on 8 points
    };
    const Case cases[] = {
        {"nothing set up", [] {}, false},
        {"nothing set up", [] {}, true},
        {"after ACFFree", [&] { fns.setup_arr(8, 12.5); fns.release(); }, false},
        {"after a second ACFFree", [&] { fns.setup_arr(8, 12.5); fns.release(); fns.release(); }, false},
        {"workspace of 7 for 8 points", [&] { fns.setup_arr(7, 12.5); }, false},
        {"negative size after a workspace", [&] { fns.setup_arr(8, 12.5); fns.setup_arr(-1, 12.5); }, false},
        {"failed set-up", [&] { fns.setup(10, 1.0, 12.5); capture([&] { fns.setup(-1, 1.0, 12.5); }); }, false},
        {"failed set-up", [&] { fns.setup(10, 1.0, 12.5); capture([&] { fns.setup(-1, 1.0, 12.5); }); }, true},
        {"set-up, then a workspace of 10 for 11 points", [&] { fns.setup(10, 1.0, 12.5); fns.setup_arr(10, 1.0); }, true},
        {"set-up, then ACFFree", [&] { fns.setup(10, 1.0, 12.5); fns.release(); }, true},
        {"mtau 0", [&] { fns.setup(0, 1.0, 12.5); }, true},
    };
    for (const auto& c : cases) {
        lib.reload();
        fns = Exports(lib);
        c.before();
        CallerArrays out(8);
        const auto printed = capture([&] { EXPECT_EQ(c.own_correlation ? fns.fit1() : fit_arr(out), 0.0) << c.what; });
        EXPECT_EQ(printed.out + printed.err, "") << c.what;
        EXPECT_EQ(out.coef, std::vector<double>(4, -999.0)) << c.what;
        EXPECT_EQ(out.fitted, std::vector<double>(8, -777.0)) << c.what;
        EXPECT_FALSE(Library::resident(service)) << c.what << ": the service was called";
    }
    // The same library and stand-in fit once a workspace is in force.
    fns.setup_arr(8, 12.5);
    CallerArrays out(8);
    EXPECT_EQ(fit_arr(out), 0.5);
    EXPECT_EQ(calls().size(), 1u);
}

TEST_F(CorvanelFit, FitsUseTheDataCopyAndLagAxisInForce) {
    CallerArrays out(12);
    std::vector<std::int32_t> curve(12, 1);
    curve[0] = 9;

    // The set-up's workspace serves a caller's curve no longer than mtau + 1.
    ASSERT_EQ(fns.setup(10, 1.0, 12.5), 11);
    EXPECT_EQ(fns.fit_arr(curve.data(), 8, out.fitted.data(), out.coef.data(), 5, 20), 0.5);
    // A caller's workspace replaces the data copy and lag axis but keeps the
    // fitted-curve buffer, so ACFFit1 runs on it while it holds mtau + 1 points.
    fns.setup_arr(11, 2.0);
    EXPECT_EQ(fns.fit1(), 0.5);
    fns.setup_arr(12, 3.0);
    EXPECT_EQ(fns.fit_arr(curve.data(), 12, out.fitted.data(), out.coef.data(), 5, 20), 0.5);
    EXPECT_EQ(fns.fit1(), 0.5);
    // ACFFree releases the data copy and lag axis only: with new ones, ACFFit1
    // runs again on the set-up's fitted-curve buffer.
    fns.release();
    fns.setup_arr(11, 4.0);
    EXPECT_EQ(fns.fit1(), 0.5);

    const auto recorded = calls();
    ASSERT_EQ(recorded.size(), 5u);
    const std::vector<std::pair<std::int32_t, std::vector<double>>> expected = {
        {8, lag_axis(8, 12.5)}, {11, lag_axis(11, 2.0)}, {12, lag_axis(12, 3.0)}, {11, lag_axis(11, 3.0)},
        {11, lag_axis(11, 4.0)}};
    for (std::size_t k = 0; k < expected.size(); ++k) {
        EXPECT_EQ(recorded[k].n, expected[k].first) << "call " << k;
        EXPECT_EQ(recorded[k].xs, expected[k].second) << "call " << k;
    }
}

// The diffusion model in the order of its operations: the root term, the
// amplitude over the linear term, their quotient, the offset.
double stated_order(double x, const double* a) {
    const double root = std::pow(x * a[2] / a[1] + 1.0, 0.5);
    const double linear = a[0] / (x / a[1] + 1.0);
    return linear / root + a[3];
}

TEST_F(CorvanelFit, ModelRunsItsOperationsInTheStatedOrder) {
    fns.setup_arr(8, 12.5);
    CallerArrays out(8);
    std::vector<std::int32_t> curve = kCurve;
    fns.fit_arr(curve.data(), 8, out.fitted.data(), out.coef.data(), 5, 20);
    ASSERT_EQ(calls().size(), 1u);
    fcs::FitModel* model = calls()[0].model;

    std::mt19937 rng(7);
    std::uniform_real_distribution<double> pick(0.01, 5000.0);
    int regrouped_differs = 0;
    for (int i = 0; i < 2000; ++i) {
        const double x = pick(rng);
        const double a[4] = {pick(rng), pick(rng), pick(rng) / 1000.0, pick(rng)};
        const double value = model(x, a, 4);
        ASSERT_EQ(value, stated_order(x, a)) << "x " << x;
        // The same formula grouped otherwise rounds differently somewhere,
        // which shows that the comparison above can tell the orders apart.
        const double regrouped = a[0] / ((1.0 + x / a[1]) * std::sqrt(1.0 + x * (a[2] / a[1]))) + a[3];
        regrouped_differs += regrouped != value;
    }
    EXPECT_GT(regrouped_differs, 0);
}

TEST_F(CorvanelFit, UnloadGivesTheServiceBack) {
    fns.setup_arr(8, 12.5);
    CallerArrays out(8);
    std::vector<std::int32_t> curve = kCurve;
    EXPECT_EQ(fns.fit_arr(curve.data(), 8, out.fitted.data(), out.coef.data(), 5, 20), 0.5);
    ASSERT_TRUE(Library::resident(service));

    lib.reload();
    EXPECT_FALSE(Library::resident(service));

    // The new load binds afresh at its first fit.
    fns = Exports(lib);
    fns.setup_arr(8, 12.5);
    EXPECT_EQ(fns.fit_arr(curve.data(), 8, out.fitted.data(), out.coef.data(), 5, 20), 0.5);
    EXPECT_EQ(calls().size(), 1u);
}

// A copy of Corvanel in `folder`, then one fit of kCurve through ACFFit1ArrIO.
struct FitFromFolder {
    explicit FitFromFolder(const std::string& folder)
        : lib(place_copy(folder, library_path("Corvanel"), fcs::test::library_file_name("Corvanel"))), fns(lib) {
        fns.setup_arr(8, 12.5);
    }
    double fit() { return fns.fit_arr(curve.data(), 8, out.fitted.data(), out.coef.data(), 5, 20); }

    Library lib;
    Exports fns;
    std::vector<std::int32_t> curve = kCurve;
    CallerArrays out{8};
};

std::size_t calls_of(const std::string& service) {
    const auto* recorder = loaded_recorder(service);
    return recorder ? recorder->calls.size() : 0;
}

TEST(CorvanelFitLookup, WithoutAServiceTheFitKeepsItsStartAndLooksAgainNextTime) {
    // A fresh process: nothing that this one loaded can serve the fit.
    if (!in_fresh_process()) {
        EXPECT_TRUE(rerun_in_fresh_process());
        return;
    }
    ASSERT_FALSE(fit_service_loaded());
    TempDir dir;
    FitFromFolder alone(dir.path());
    EXPECT_EQ(alone.fit(), 0.0);
    EXPECT_EQ(alone.out.coef, kCurveStart);
    EXPECT_EQ(alone.out.fitted, std::vector<double>(8, -777.0));
    ASSERT_EQ(alone.fns.setup(10, 1.0, 12.5), 11);
    EXPECT_EQ(alone.fns.fit1(), 0.0);

    // Nothing was cached: a service placed beside the library now is found.
    const auto service = place_copy(dir.path(), recording_fit_service_path(), kFitServiceFile);
    alone.fns.setup_arr(8, 12.5);
    EXPECT_EQ(alone.fit(), 0.5);
    EXPECT_EQ(calls_of(service), 1u);
}

TEST(CorvanelFitLookup, AServiceFileWithoutTheExportIsNotBound) {
    if (!in_fresh_process()) {
        EXPECT_TRUE(rerun_in_fresh_process());
        return;
    }
    ASSERT_FALSE(fit_service_loaded());
    TempDir dir;
    const auto decoy = place_copy(dir.path(), fcs::test::decoy_fit_service_path(), kFitServiceFile);
    FitFromFolder beside(dir.path());
    EXPECT_EQ(beside.fit(), 0.0);
    EXPECT_EQ(beside.out.coef, kCurveStart);
    EXPECT_EQ(beside.out.fitted, std::vector<double>(8, -777.0));
    // The decoy was given back, and nothing was cached: the real thing in its
    // place is found at the next fit.
    EXPECT_FALSE(Library::resident(decoy));
    const auto service = place_copy(dir.path(), recording_fit_service_path(), kFitServiceFile);
    EXPECT_EQ(beside.fit(), 0.5);
    EXPECT_EQ(calls_of(service), 1u);
}

TEST(CorvanelFitLookup, AServiceAlreadyLoadedComesBeforeTheFileBeside) {
    ASSERT_FALSE(fit_service_loaded()) << "another fit service is loaded in this process";
    TempDir elsewhere, folder;
    const auto loaded = place_copy(elsewhere.path(), recording_fit_service_path(), kFitServiceFile);
    Library preloaded(loaded);
    const auto decoy = place_copy(folder.path(), fcs::test::decoy_fit_service_path(), kFitServiceFile);
    {
        FitFromFolder beside(folder.path());
        EXPECT_EQ(beside.fit(), 0.5);
        EXPECT_EQ(calls_of(loaded), 1u);
        EXPECT_FALSE(Library::resident(decoy));
    }
}

TEST(CorvanelFitLookup, TheFileBesideComesBeforeTheLoadersSearch) {
    // The loader's search path is read at process start: a fresh process with
    // a folder of its own on it.
    if (!in_fresh_process()) {
        TempDir searched;
        place_copy(searched.path(), recording_fit_service_path(), kFitServiceFile);
        EXPECT_TRUE(rerun_in_fresh_process(
            {fcs::test::loader_search_path_with(searched.path()), {"FCS_TEST_SEARCHED", searched.path()}}));
        return;
    }
    ASSERT_FALSE(fit_service_loaded());
    const std::string searched = std::string(std::getenv("FCS_TEST_SEARCHED")) + "/" + kFitServiceFile;
    {
        TempDir folder;
        const auto beside = place_copy(folder.path(), recording_fit_service_path(), kFitServiceFile);
        FitFromFolder fit(folder.path());
        EXPECT_EQ(fit.fit(), 0.5);
        EXPECT_EQ(calls_of(beside), 1u);
        EXPECT_FALSE(Library::resident(searched));
    }
    // With nothing beside it, the search finds the one on the search path.
    ASSERT_FALSE(fit_service_loaded());
    TempDir folder;
    FitFromFolder fit(folder.path());
    EXPECT_EQ(fit.fit(), 0.5);
    EXPECT_EQ(calls_of(searched), 1u);
}

}  // namespace
