// The recording stand-in for the fit service: a library file named like the
// real service (file name and SONAME), which records the nine arguments of
// every call and answers with the model at the starting coefficients. Tests
// place it beside a copy of a library and read its recorder afterwards
// (fit_doubles.h).
#pragma once

#include "fit_service.h"

#include <cstdint>
#include <vector>

namespace fcs::test {

struct RecordedFit {
    // The nine arguments as received.
    const double* x;
    const double* y;
    double* fitted;
    std::int32_t n;
    std::int32_t max_iter;
    FitModel* model;
    double* a;
    std::int32_t ncoef;
    double* mse;
    // What x, y (n entries each) and a (ncoef entries) held on entry.
    std::vector<double> xs, ys, start;
};

struct FitRecorder {
    std::vector<RecordedFit> calls;
    // The answer: this status, and when it is 0 the model at every x with the
    // coefficients as received written to fitted (coefficients unchanged)
    // and `mse` written to *mse.
    std::int32_t status = 0;
    double mse = 0.5;
};

// The stand-in's second export: its recorder, one per loaded copy.
using FitRecorderFn = FitRecorder&() noexcept;
inline constexpr char kFitRecorderExport[] = "fcs_test_fit_recorder";

}  // namespace fcs::test
