// The recording stand-in for the fit service (see recording_fit_service.h).
#include "recording_fit_service.h"

#include <type_traits>

FCS_SERVICE_EXPORT fcs::FitServiceFn AALFunc131;
FCS_SERVICE_EXPORT fcs::test::FitRecorderFn fcs_test_fit_recorder;
static_assert(std::is_same_v<decltype(AALFunc131), fcs::FitServiceFn>);

fcs::test::FitRecorder& fcs_test_fit_recorder() noexcept {
    static fcs::test::FitRecorder recorder;
    return recorder;
}

std::int32_t AALFunc131(const double* x, const double* y, double* fitted, std::int32_t n, std::int32_t max_iter,
                        fcs::FitModel* model, double* a, std::int32_t ncoef, double* mse) noexcept {
    auto& recorder = fcs_test_fit_recorder();
    fcs::test::RecordedFit call{x, y, fitted, n, max_iter, model, a, ncoef, mse, {}, {}, {}};
    if (x && n > 0) call.xs.assign(x, x + n);
    if (y && n > 0) call.ys.assign(y, y + n);
    if (a && ncoef > 0) call.start.assign(a, a + ncoef);
    recorder.calls.push_back(call);

    if (recorder.status != 0) return recorder.status;
    if (fitted && model && x)
        for (std::int32_t i = 0; i < n; ++i) fitted[i] = model(x[i], a, ncoef);
    if (mse) *mse = recorder.mse;
    return 0;
}
